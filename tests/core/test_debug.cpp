#include <string>

#include "zdebug.h"
#include "zqtest.h"

static const char LOG[] = "c:\\zarquel.log";

// Bytes appended to the log while `write` runs.
template <class F> static std::string Appended(F write)
{
    std::string before = ZQ_ReadFile(LOG);
    write();
    std::string after = ZQ_ReadFile(LOG);
    EXPECT_GE(after.size(), before.size());
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the log is only ever appended to";
    return after.substr(before.size());
}

TEST(Debug, LogLinesEndInCrLfAndKeepPercentSigns)
{
    CZDebug d;
    std::string a = Appended([&] {
        d.OutputDebug("first %d", 1);
        d.OutputDebug("100%% sure %s", "50%");
        d.OutputDebug("%s", "");
    });
    EXPECT_EQ(a, "first 1\r\n100% sure 50%\r\n\r\n");
}

TEST(Debug, LongLinesAreCutToTheBuffer)
{
    CZDebug d;
    const std::string fits(ZDEBUG_LINE_MAX - 3, 'a');
    EXPECT_EQ(Appended([&] { d.OutputDebug("%s", fits.c_str()); }), fits + "\r\n");
    const std::string tooLong(5000, 'b');
    EXPECT_EQ(Appended([&] { d.OutputDebug("%s", tooLong.c_str()); }),
              std::string(ZDEBUG_LINE_MAX - 3, 'b') + "\r\n");
}

TEST(Debug, UnopenableLogIsIgnored)
{
    // Read-only attributes mean nothing to root under Wine; a directory in
    // the log's place cannot be opened by anyone.
    CZDebug d;
    d.OutputDebug("make sure the log exists");
    ASSERT_TRUE(MoveFileA(LOG, "c:\\zarquel.log.keep"));
    ASSERT_TRUE(CreateDirectoryA(LOG, NULL));
    d.OutputDebug("not written");
    const DWORD attributes = GetFileAttributesA(LOG);
    RemoveDirectoryA(LOG);
    MoveFileA("c:\\zarquel.log.keep", LOG);
    // Nothing went anywhere (the directory is still there, empty enough to
    // go), and the next line reaches the log again.
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesA(LOG) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(Appended([&] { d.OutputDebug("written again"); }), "written again\r\n");
    EXPECT_EQ(ZQ_ReadFile(LOG).find("not written"), std::string::npos);
}

ZQ_CHILD(debug_show)
{
    CZDebug d;
    d.ShowMessage("100% done", "Zarquel Test");
    d.ShowMessage("second box", "Zarquel Test 2");
    ExitProcess(7);
}

ZQ_CHILD(debug_exit)
{
    CZDebug d;
    d.ShowMessageAndExit("fatal text", "Zarquel ZTEST");
    ExitProcess(5);  // never reached
}

TEST(Debug, ShowMessageBlocksUntilClosedAndReturns)
{
    ZQChild c = ZQ_RunChild("debug_show");
    EXPECT_FALSE(c.TimedOut);
    EXPECT_EQ(c.ExitCode, 7u);
    ASSERT_EQ(c.Boxes.size(), 2u);
    EXPECT_EQ(c.Boxes[0].Text, "100% done");
    EXPECT_EQ(c.Boxes[0].Caption, "Zarquel Test");
    EXPECT_TRUE(c.Boxes[0].Topmost);
    EXPECT_TRUE(c.Boxes[0].Icon);
    EXPECT_EQ(c.Boxes[0].Buttons, 1);
    EXPECT_EQ(c.Boxes[1].Text, "second box");
}

TEST(Debug, ShowMessageAndExitEndsWithCodeOne)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("debug_exit"), 1, "fatal text", "Zarquel ZTEST"));
}
