// Display tests: what a child process found, written as "key=value" lines
// to a file next to the executable and read back by the parent.
#ifndef ZQ_VGS_REPORT_H
#define ZQ_VGS_REPORT_H

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "zqtest.h"

inline std::string ZQ_ReportPath(const char* scenario)
{
    return ZQ_ExeDir() + "\\vgs_" + scenario + ".txt";
}

struct ZQReport {
    FILE* File = nullptr;
    explicit ZQReport(const char* scenario) { File = fopen(ZQ_ReportPath(scenario).c_str(), "w"); }
    ~ZQReport()
    {
        if (File)
            fclose(File);
    }
    // Flushed at once: a fatal box ends the child without destructors.
    void Put(const char* key, long value)
    {
        if (!File)
            return;
        fprintf(File, "%s=%ld\n", key, value);
        fflush(File);
    }
};

// The child's report; empty if it wrote none. The file is removed.
inline std::map<std::string, long> ZQ_ReadReport(const char* scenario)
{
    std::map<std::string, long> out;
    const std::string path = ZQ_ReportPath(scenario);
    const std::string text = ZQ_ReadFile(path.c_str());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = strtol(line.c_str() + eq + 1, nullptr, 0);
        at = end + 1;
    }
    remove(path.c_str());
    return out;
}

// Runs the child after removing any report a former run left.
inline ZQChild ZQ_RunReportingChild(const char* scenario, std::map<std::string, long>& report)
{
    remove(ZQ_ReportPath(scenario).c_str());
    ZQChild c = ZQ_RunChild(scenario);
    report = ZQ_ReadReport(scenario);
    return c;
}

inline bool ZQ_Screen640x480()
{
    return GetSystemMetrics(SM_CXSCREEN) == 640 && GetSystemMetrics(SM_CYSCREEN) == 480;
}

#endif
