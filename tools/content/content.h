// The content generator: asset groups, each in a file of its own, write the
// game's files into one output folder; the build packs them into
// "data.tmf" with tmfpack. A group declares the container names it writes
// (checked: nothing more, nothing less), so the list of groups in
// groups.cpp is the one place that says what the container holds.
#ifndef ZQCONTENT_CONTENT_H
#define ZQCONTENT_CONTENT_H

#include <string>
#include <vector>

#include "encode.h"
#include "image.h"
#include "text.h"

// Limits of what one run may write, checked in CgSink.
#define CG_MAX_FILES 400          // the engine's container handle table
#define CG_MAX_NAME 63            // container names, so the name field stays small

// What a group writes through. Container names use backslashes
// ("data\menu.jpg"); files land under the output folder with the same path.
class CgSink {
public:
    CgSink(const std::string& folder, const CgFonts& fonts) : Folder(folder), Fonts(fonts) {}

    // Files packed into the container.
    void Bytes(const std::string& name, const CgBytes& bytes);
    // A picture as JPEG, also shown on the contact sheet.
    void Jpeg(const std::string& name, const CgImage& img, int quality = 92, bool fullChroma = false);
    // A grey picture as JPEG (the same on the contact sheet).
    void JpegGrey(const std::string& name, const CgMask& m, int quality = 92);
    // An alpha map as PCX, shown grey on the contact sheet.
    void PcxAlpha(const std::string& name, const CgMask& m);
    // A file for people beside the container (maps, sheets), not packed.
    void Report(const std::string& file, const CgBytes& bytes);

    struct Written {
        std::string Name;
        std::string Path;   // relative to the output folder
        size_t Bytes;
    };
    struct Thumb {
        std::string Name;
        int W, H;           // the picture's own size
        CgImage Small;
    };

    std::string Folder;
    const CgFonts& Fonts;
    std::vector<Written> Files;     // in writing order
    std::vector<Thumb> Thumbs;
    std::vector<std::string> Errors;

private:
    void CG_Thumb(const std::string& name, const CgImage& img);
};

// One asset group: its progress-line name, the container names it writes,
// and the routine that writes them.
struct CgGroup {
    const char* Name;
    std::vector<std::string> (*Names)();
    void (*Build)(CgSink& out);
};

// Every group, in the order they run and their files are packed.
extern const CgGroup CG_GROUPS[];
extern const int CG_GROUP_COUNT;

// "data\textos\texto%02d.jpg"-style lists.
std::vector<std::string> CgNumbered(const char* format, int first, int last);

// The contact sheet of every picture written, as PNG.
CgBytes CgContactSheet(const CgSink& sink);

#endif
