// The surveillance build of the memory manager (zarquel_surveil.dll).
#include <cstring>
#include <regex>
#include <string>

#include "zarquel.h"
#include "zqtest.h"

static bool InThisExecutable(uint32_t address)
{
    const uint8_t* image = (const uint8_t*)GetModuleHandleA(NULL);
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(image + ((const IMAGE_DOS_HEADER*)image)->e_lfanew);
    return address >= (uintptr_t)image && address < (uintptr_t)image + nt->OptionalHeader.SizeOfImage;
}

TEST(Surveil, BlocksAreGuardedRegisteredAndDumped)
{
    ASSERT_TRUE(CZMem::SurveillanceBuilt());
    CZarquel z;
    CZMem& m = *z.Mem;
    m.InitHeap(1 << 20);
    ASSERT_NE(m.SurveilTable, nullptr);
    EXPECT_NE((void*)m.SurveilTable, (void*)m.ArenaBase) << "the table lives outside the arena";

    uint8_t* p = (uint8_t*)m.GetMem(10);
    uint8_t* q = (uint8_t*)m.GetMem(4);
    ASSERT_EQ(p, m.ArenaBase);
    EXPECT_EQ(q, p + 12 + ZMEM_GUARD_BYTES);
    EXPECT_EQ(m.SurveilBlocks, 2u);
    EXPECT_EQ(m.SurveilBytes, 20u + 12u);
    EXPECT_EQ(m.SurveilRecords, 2u);
    const ZMEM_SURVEIL& r0 = m.SurveilTable[0];
    EXPECT_EQ(r0.Size, 12u);
    EXPECT_EQ(r0.Block, (uint32_t)(uintptr_t)p);
    EXPECT_EQ(r0.Guard, (uint32_t)(uintptr_t)(p + 12));
    EXPECT_TRUE(InThisExecutable(r0.Site)) << "the site is the caller's code address";
    EXPECT_EQ(((uint32_t*)(p + 12))[0], ZMEM_GUARD0);
    EXPECT_EQ(((uint32_t*)(p + 12))[1], ZMEM_GUARD1);
    EXPECT_EQ(m.SurveilTable[2].Block, ZMEM_END_OF_TABLE);

    m.MemoryInfoDump();
    std::string dump = ZQ_ReadTextFile("zarquel-mem.txt");
    char line[160];
    snprintf(line, sizeof(line), "-Heap Size: %u\n-Allocated Blocks: 2 \n-Allocated Bytes: 32 \n"
             "-Memory Surveil Page Tables: 2\n\n-Allocated Blocks:\n"
             "Block: 0 Allocated at: %lx in address: %lx with size: 12\n",
             (1u << 20) + 8, (unsigned long)r0.Site, (unsigned long)(uintptr_t)p);
    EXPECT_NE(dump.find(line), std::string::npos) << dump;
    snprintf(line, sizeof(line), "Block: 1 Allocated at: %lx in address: %lx with size: 4\n",
             (unsigned long)m.SurveilTable[1].Site, (unsigned long)(uintptr_t)q);
    EXPECT_NE(dump.find(line), std::string::npos) << dump;

    // Freeing the first leaves a free slot; freeing the last shrinks the table.
    m.FreeMem(p, 10);
    EXPECT_EQ(m.SurveilTable[0].Block, 0u);
    EXPECT_EQ(m.SurveilRecords, 2u);
    m.FreeMem(q, 4);
    EXPECT_EQ(m.SurveilRecords, 1u);
    EXPECT_EQ(m.SurveilTable[1].Block, ZMEM_END_OF_TABLE);
    EXPECT_EQ(m.SurveilTable[2].Block, 0u);
    EXPECT_EQ(m.SurveilBlocks, 0u);
    EXPECT_EQ(m.SurveilBytes, 0u);
    EXPECT_EQ(m.Top, m.ArenaBase);
    // The free slot is reused first.
    uint8_t* again = (uint8_t*)m.GetMem(100);
    EXPECT_EQ(m.SurveilTable[0].Block, (uint32_t)(uintptr_t)again);
    EXPECT_EQ(m.SurveilRecords, 1u);
    m.MemoryInfoDump();
    EXPECT_EQ(ZQ_ReadTextFile("zarquel-mem.txt").find("Block: 0 Allocated at:") != std::string::npos, true);

    // A refused free unregisters nothing.
    m.FreeMem(again + 2, 100);
    EXPECT_EQ(m.SurveilBlocks, 1u);
    m.DoneHeap();
    Sleep(3 * ZMEM_SURVEIL_PERIOD_MS);   // the watchdog is gone with the heap
}

static DWORD WINAPI AllocateElsewhere(void* p)
{
    CZMem* m = (CZMem*)p;
    void* b = m->GetMem(64);
    m->FreeMem(b, 64);
    return b != nullptr;
}

TEST(Surveil, OtherThreadsMayUseTheHeapInMultithreadMode)
{
    CZarquel z;
    z.Mem->InitHeap(1 << 16);
    z.Mem->ActiveMultiThread();
    HANDLE t = CreateThread(NULL, 0, AllocateElsewhere, z.Mem, 0, NULL);
    WaitForSingleObject(t, INFINITE);
    DWORD ok = 0;
    GetExitCodeThread(t, &ok);
    CloseHandle(t);
    EXPECT_EQ(ok, 1u);
}

static CZarquel* g_engine;

ZQ_CHILD(surveil_overrun)
{
    g_engine = new CZarquel;
    g_engine->Mem->InitHeap(1 << 16);
    g_engine->Mem->GetMem(40);
    uint8_t* p = (uint8_t*)g_engine->Mem->GetMem(16);
    p[16] = 0;   // one byte past the end
    Sleep(10000);
    ExitProcess(9);
}

ZQ_CHILD(surveil_corrupt_table)
{
    g_engine = new CZarquel;
    g_engine->Mem->InitHeap(1 << 16);
    g_engine->Mem->GetMem(16);
    g_engine->Mem->SurveilTable[0].Guard = ZMEM_END_OF_TABLE;
    Sleep(10000);
    ExitProcess(9);
}

static DWORD WINAPI GetFromAnotherThread(void*)
{
    g_engine->Mem->GetMem(16);
    return 0;
}

ZQ_CHILD(surveil_wrong_thread)
{
    g_engine = new CZarquel;
    g_engine->Mem->InitHeap(1 << 16);
    HANDLE t = CreateThread(NULL, 0, GetFromAnotherThread, NULL, 0, NULL);
    WaitForSingleObject(t, INFINITE);
    ExitProcess(9);
}

ZQ_CHILD(surveil_table_full)
{
    g_engine = new CZarquel;
    g_engine->Mem->InitHeap(4 << 20);
    for (int i = 0; i < ZMEM_SURVEIL_RECORDS; i++)
        if (!g_engine->Mem->GetMem(4))
            ExitProcess(8);
    ExitProcess(9);
}

// Release drops the records of the blocks above the mark; kept, their guard
// words would be overwritten by the next blocks and reported as an overrun.
ZQ_CHILD(surveil_release)
{
    g_engine = new CZarquel;
    CZMem& m = *g_engine->Mem;
    m.InitHeap(1 << 16);
    uint8_t* below = (uint8_t*)m.GetMem(16);
    void* mark = m.Mark();
    m.GetMem(8);
    m.GetMem(24);
    m.Release(mark);
    if (m.SurveilBlocks != 1 || m.SurveilBytes != 24 || m.SurveilRecords != 1 ||
        m.SurveilTable[0].Block != (uint32_t)(uintptr_t)below || m.SurveilTable[1].Block != ZMEM_END_OF_TABLE)
        ExitProcess(8);
    uint8_t* again = (uint8_t*)m.GetMem(64);
    memset(again, 0x5A, 64);   // across both old guard words
    Sleep(5 * ZMEM_SURVEIL_PERIOD_MS);
    ExitProcess(m.SurveilRecords == 2 ? 0 : 7);
}

TEST(Surveil, ReleaseDropsTheRecordsAboveTheMark)
{
    ZQChild c = ZQ_RunChild("surveil_release");
    EXPECT_EQ(c.ExitCode, 0u);
    EXPECT_TRUE(c.Boxes.empty()) << c.Boxes[0].Text;
}

TEST(SurveilFatal, AnOverrunStopsEverythingAndExitsWithCodeTwo)
{
    ZQChild c = ZQ_RunChild("surveil_overrun");
    // Not system-modal, and the exit code is 2.
    ASSERT_TRUE(ZQ_OneBox(c, 2, "Memory Overrun- Block: ", "Zarquel Memory Protection", true, false));
    EXPECT_TRUE(std::regex_match(c.Boxes[0].Text,
                                 std::regex("Memory Overrun- Block: 1 Address: [0-9a-f]+ Size: 16 Allocated at: [0-9a-f]+")))
        << c.Boxes[0].Text;
}

TEST(SurveilFatal, CorruptTableAndOtherRefusals)
{
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("surveil_corrupt_table"), 1, "Memory Surveil Error: Contact at ",
                          "Zarquel Memory Protection", true));
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("surveil_wrong_thread"), 1,
                          "The Heap can be used only for the thread that create it. Use Multithread call",
                          "Zarquel ZMEM"));
    EXPECT_TRUE(ZQ_OneBox(ZQ_RunChild("surveil_table_full"), 1, "Memory Surveil Table Full: Contact at ",
                          "Zarquel ZMEM", true));
}
