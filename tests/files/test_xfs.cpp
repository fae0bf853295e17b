#include "files_util.h"
#include "zarquel.h"
#include "zqtest.h"

#include <cstring>

namespace {

class Xfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_EnterScratch();
        z = new CZarquel;
        x = z->Xfs;
    }
    void TearDown() override { delete z; }

    std::string Read(unsigned long h, unsigned long n)
    {
        std::string s(n, '\0');
        unsigned long got = x->ReadFile(h, &s[0], n);
        s.resize(got);
        return s;
    }
    void Master(const char* file, const std::vector<TmfItem>& items, uint8_t width = 15)
    {
        ZQ_Scratch(file, ZQ_Container(items, width));
        x->OpenMasterFile(file);
        ASSERT_EQ(x->MasterOpen, 1);
    }

    CZarquel* z;
    CZXfs* x;
};

bool IsContainer(unsigned long h)
{
    return (h & ZXFS_CONTAINER_HANDLE) != 0;
}

}  // namespace

TEST(XfsEngine, LinksAndStartsEmpty)
{
    CZarquel* z = new CZarquel;
    EXPECT_EQ(z->Xfs->Debug, z->Debug);
    EXPECT_EQ(z->Fsf->Debug, z->Debug);
    EXPECT_EQ(z->Fsf->Mem, z->Mem);
    EXPECT_EQ(z->Fsf->Xfs, z->Xfs);
    EXPECT_EQ(z->Xfs->MasterOpen, 0);
    EXPECT_STREQ(z->Xfs->MasterFileName, "");
    for (int i = 0; i < ZXFS_MAX_HANDLES; i++)
        ASSERT_EQ(z->Xfs->Slot[i].Offset, ZXFS_FREE_SLOT);
    EXPECT_EQ(z->Fsf->Ready, 0);
    delete z;
}

TEST_F(Xfs, ContainerBeforeDiskIgnoringCaseAndDiskOtherwise)
{
    ZQ_Scratch("dup.txt", "from disk");
    ZQ_Scratch("disk_only.txt", "only on disk");
    Master("case.tmf", {{"Data\\Dup.TXT", "from container"}, {"dup.txt", "second entry"}, {"DUP.TXT", "third"}});
    EXPECT_STREQ(x->MasterFileName, "case.tmf");
    EXPECT_EQ(x->EntryCount, 3u);
    EXPECT_EQ(x->NameWidth, 15);

    // The first matching entry wins, whatever the case of either name.
    unsigned long h = x->OpenFile("DATA\\dup.txt");
    ASSERT_TRUE(IsContainer(h));
    EXPECT_EQ(x->GetFileSize(h), 14u);
    EXPECT_EQ(Read(h, 14), "from container");
    x->CloseFile(h);
    h = x->OpenFile("DUP.txt");
    ASSERT_TRUE(IsContainer(h));
    EXPECT_EQ(Read(h, 12), "second entry");
    x->CloseFile(h);

    // Not in the container: the disk, with an operating-system handle.
    h = x->OpenFile("disk_only.txt");
    ASSERT_FALSE(IsContainer(h));
    EXPECT_EQ(x->GetFileSize(h), 12u);
    EXPECT_EQ(Read(h, 12), "only on disk");
    x->CloseFile(h);
    EXPECT_EQ(x->ContainerOpens, 2u);
    EXPECT_EQ(x->DiskOpens, 1u);

    // No container: every name goes to the disk.
    x->CloseMasterFile();
    EXPECT_EQ(x->MasterOpen, 0);
    h = x->OpenFile("dup.txt");
    ASSERT_FALSE(IsContainer(h));
    EXPECT_EQ(Read(h, 9), "from disk");
    x->CloseFile(h);
}

TEST_F(Xfs, HandlesKeepTheirOwnPositions)
{
    Master("pos.tmf", {{"a", "0123456789"}, {"b", "abcdefghij"}});
    unsigned long a = x->OpenFile("a");
    unsigned long b = x->OpenFile("b");
    EXPECT_EQ(a, ZXFS_CONTAINER_HANDLE | 0);
    EXPECT_EQ(b, ZXFS_CONTAINER_HANDLE | 1);
    EXPECT_EQ(Read(a, 3), "012");
    EXPECT_EQ(Read(b, 4), "abcd");
    x->FileSeek(0);
    EXPECT_EQ(x->FileTell(), 0u);
    EXPECT_EQ(Read(a, 3), "345");
    EXPECT_EQ(Read(b, 2), "ef");
    EXPECT_EQ(x->GetFileSize(a), 10u);
    EXPECT_EQ(x->FileTell(), 0u);

    // Reads are not clipped to the file: "a" runs on into "b", and at the
    // container's end only what exists is read and counted.
    EXPECT_EQ(Read(a, 7), "6789abc");
    EXPECT_EQ(x->Slot[0].Position, 13u);
    EXPECT_EQ(Read(b, 100), "ghij");
    EXPECT_EQ(x->Slot[1].Position, 10u);
    EXPECT_EQ(Read(b, 5), "");
    EXPECT_EQ(x->GetFileSize(b), 10u);

    // The lowest free slot is reused.
    x->CloseFile(a);
    EXPECT_EQ(x->Slot[0].Offset, ZXFS_FREE_SLOT);
    unsigned long again = x->OpenFile("b");
    EXPECT_EQ(again, ZXFS_CONTAINER_HANDLE | 0);
    EXPECT_EQ(Read(again, 2), "ab");
}

TEST_F(Xfs, FullTableAndInvalidHandlesDoNothing)
{
    Master("full.tmf", {{"a", "0123456789"}});
    for (unsigned long i = 0; i < ZXFS_MAX_HANDLES; i++)
        ASSERT_EQ(x->OpenFile("a"), ZXFS_CONTAINER_HANDLE | i);
    EXPECT_EQ(x->OpenFile("a"), ZXFS_NO_HANDLE);
    EXPECT_EQ(x->SlotsExhausted, 1u);

    char buf[8];
    memset(buf, 'Z', sizeof(buf));
    EXPECT_EQ(x->ReadFile(ZXFS_NO_HANDLE, buf, sizeof(buf)), 0u);
    EXPECT_EQ(x->GetFileSize(ZXFS_NO_HANDLE), 0u);
    x->CloseFile(ZXFS_NO_HANDLE);
    for (char c : buf)
        EXPECT_EQ(c, 'Z');
    // Closing the all-ones handle freed nothing.
    EXPECT_EQ(x->OpenFile("a"), ZXFS_NO_HANDLE);

    x->CloseFile(ZXFS_CONTAINER_HANDLE | 5);
    EXPECT_EQ(x->OpenFile("a"), ZXFS_CONTAINER_HANDLE | 5);
    // Past the table, and a free slot: no read.
    x->CloseFile(ZXFS_CONTAINER_HANDLE | 7);
    EXPECT_EQ(x->ReadFile(ZXFS_CONTAINER_HANDLE | 7, buf, 4), 0u);
    EXPECT_EQ(x->ReadFile(ZXFS_CONTAINER_HANDLE | ZXFS_MAX_HANDLES, buf, 4), 0u);
    for (char c : buf)
        EXPECT_EQ(c, 'Z');
    EXPECT_GE(x->BadHandles, 4u);

    // Closing the container frees every slot.
    x->CloseMasterFile();
    for (int i = 0; i < ZXFS_MAX_HANDLES; i++)
        ASSERT_EQ(x->Slot[i].Offset, ZXFS_FREE_SLOT);
}

TEST_F(Xfs, SecondContainerNeedsCloseAndDiskHandlesOutliveIt)
{
    ZQ_Scratch("plain.txt", "plain");
    Master("one.tmf", {{"name", "one"}});
    ZQ_Scratch("two.tmf", ZQ_Container({{"name", "two"}}, 7));
    x->OpenMasterFile("two.tmf");
    EXPECT_STREQ(x->MasterFileName, "one.tmf");
    unsigned long h = x->OpenFile("name");
    EXPECT_EQ(Read(h, 3), "one");
    unsigned long disk = x->OpenFile("plain.txt");

    x->CloseMasterFile();
    x->OpenMasterFile("two.tmf");
    EXPECT_EQ(x->NameWidth, 7);
    h = x->OpenFile("name");
    EXPECT_EQ(Read(h, 3), "two");
    EXPECT_EQ(Read(disk, 5), "plain");
    x->CloseFile(disk);
}

TEST_F(Xfs, EntriesOutsideTheFileAreNotFound)
{
    ZQ_Scratch("out1", "disk out1");
    ZQ_Scratch("out2", "disk out2");
    ZQ_Scratch("out3", "disk out3");
    std::string c = ZQ_Container({{"out1", "aaaa"}, {"out2", "bbbb"}, {"out3", "cccc"}, {"out3", "dddd"},
                                  {"end", "eeee"}},
                                 15);
    ZQ_PutU32(c, ZQ_EntryAt(0, 15), (uint32_t)c.size());            // starts past the end
    ZQ_PutU32(c, ZQ_EntryAt(1, 15), 0xFFFFFFF0u);                   // offset + size wraps 32 bits
    ZQ_PutU32(c, ZQ_EntryAt(1, 15) + 4, 0x20u);
    ZQ_PutU32(c, ZQ_EntryAt(2, 15) + 4, (uint32_t)c.size());        // one entry too long
    ZQ_Scratch("bad.tmf", c);
    x->OpenMasterFile("bad.tmf");

    unsigned long h = x->OpenFile("out1");
    EXPECT_FALSE(IsContainer(h));
    EXPECT_EQ(Read(h, 20), "disk out1");
    x->CloseFile(h);
    h = x->OpenFile("out2");
    EXPECT_FALSE(IsContainer(h));
    x->CloseFile(h);
    // A later sound entry of the same name is served.
    h = x->OpenFile("out3");
    ASSERT_TRUE(IsContainer(h));
    EXPECT_EQ(Read(h, 4), "dddd");
    x->CloseFile(h);
    // Data reaching exactly to the end is inside.
    h = x->OpenFile("end");
    ASSERT_TRUE(IsContainer(h));
    EXPECT_EQ(Read(h, 4), "eeee");
    EXPECT_EQ(x->BadEntries, 3u);
}

TEST_F(Xfs, NameFieldBoundsAndEmptyDirectory)
{
    ZQ_Scratch("abcde", "disk abcde");
    ZQ_Scratch("abc", "disk abc");
    // Field of 4 bytes: "abcd" fills it without a NUL.
    Master("width.tmf", {{"abcd", "full field"}, {"ab", "short"}}, 3);
    unsigned long h = x->OpenFile("ABCD");
    ASSERT_TRUE(IsContainer(h));
    EXPECT_EQ(Read(h, 10), "full field");
    x->CloseFile(h);
    for (const char* disk : {"abcde", "abc"}) {
        h = x->OpenFile(disk);
        EXPECT_FALSE(IsContainer(h)) << disk;
        x->CloseFile(h);
    }
    EXPECT_TRUE(IsContainer(x->OpenFile("ab")));

    x->CloseMasterFile();
    Master("none.tmf", {}, 0);
    EXPECT_EQ(x->EntryCount, 0u);
    h = x->OpenFile("abc");
    EXPECT_FALSE(IsContainer(h));
    x->CloseFile(h);
}

ZQ_CHILD(xfs_master_missing)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    z->Xfs->OpenMasterFile("no_such_container.tmf");
}

ZQ_CHILD(xfs_file_missing)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    ZQ_Scratch("small.tmf", ZQ_Container({{"a", "x"}}, 3));
    z->Xfs->OpenMasterFile("small.tmf");
    z->Xfs->OpenFile("data\\missing.bin");
}

static std::string LongName()
{
    std::string s;
    for (int i = 0; i < 2000; i++)
        s += (char)('a' + i % 26);
    return s;
}

ZQ_CHILD(xfs_file_overlong)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    z->Xfs->OpenFile(LongName().c_str());
}

ZQ_CHILD(xfs_header_truncated)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    ZQ_Scratch("short.tmf", ZQ_Container({}, 3).substr(0, 12));
    z->Xfs->OpenMasterFile("short.tmf");
}

ZQ_CHILD(xfs_count_past_end)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    std::string c = ZQ_Container({{"a", "1"}, {"b", "2"}}, 3);
    ZQ_PutU32(c, 8, 5);   // the 5th entry would end past the file
    ZQ_Scratch("count.tmf", c);
    z->Xfs->OpenMasterFile("count.tmf");
}

ZQ_CHILD(xfs_count_huge)
{
    ZQ_EnterScratch();
    CZarquel* z = new CZarquel;
    std::string c = ZQ_Container({{"a", "1"}}, 255);
    ZQ_PutU32(c, 8, 0xFFFFFFFFu);
    ZQ_Scratch("huge.tmf", c);
    z->Xfs->OpenMasterFile("huge.tmf");
}

ZQ_CHILD(fail_xfs)
{
    CZarquel::TestFailCreation = 2;
    new CZarquel;
}

ZQ_CHILD(fail_fsf)
{
    CZarquel::TestFailCreation = 11;
    new CZarquel;
}

static void ExpectFatal(const char* child, const std::string& text, const char* caption = "Zarquel ZXFS")
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild(child), 1, text, caption)) << child;
}

TEST(XfsFatal, MissingFilesAndDamagedContainersEndWithAMessage)
{
    ExpectFatal("xfs_master_missing", "Master file not found.");
    ExpectFatal("xfs_file_missing", "Error opening file: data\\missing.bin");
    // Cut to the 512-byte message buffer, terminator included.
    ExpectFatal("xfs_file_overlong", ("Error opening file: " + LongName()).substr(0, ZXFS_MESSAGE_MAX - 1));
    ExpectFatal("xfs_header_truncated", "Master file damaged (header truncated): short.tmf");
    ExpectFatal("xfs_count_past_end", "Master file damaged (directory runs past the end of the file): count.tmf");
    ExpectFatal("xfs_count_huge", "Master file damaged (directory runs past the end of the file): huge.tmf");
    ExpectFatal("fail_xfs", "Critical Error Initializing Zarquel", "Zarquel V3.0");
    ExpectFatal("fail_fsf", "Critical Error Initializing Zarquel", "Zarquel V3.0");
}
