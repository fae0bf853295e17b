// The soldier and the player with their weapons, and the sheet of their
// poses for people.
#include "figures.h"
#include "pictures.h"

std::vector<std::string> CgSoldierNames()
{
    return {"data\\soldier\\soldier.3do", "data\\soldier\\soldier.material", "data\\soldier\\soldier.jpg",
            "data\\soldier\\weapon.3do",  "data\\soldier\\weapon.material",  "data\\soldier\\weapon.jpg"};
}
std::vector<std::string> CgPlayerNames()
{
    return {"data\\player\\player.3do", "data\\player\\player.material", "data\\player\\player.jpg",
            "data\\player\\weapon.3do", "data\\player\\weapon.material", "data\\player\\weapon.jpg"};
}

static void CG_Write(CgSink& out, const std::string& folder, const char* name, const O3dObject& o, const CgImage& tex)
{
    std::vector<uint8_t> bytes;
    std::string error = O3dBuildImage(o, &bytes);
    if (error.empty())
        out.Bytes(folder + name + ".3do", bytes);
    O3dMaterialRecord r;
    r.Texture1 = std::string(name) + ".jpg";
    r.Type = ZO3D_MAT_TEXTURED;
    if (error.empty())
        error = O3dBuildMaterials({r}, &bytes);
    if (!error.empty()) {
        out.Errors.push_back(folder + name + ": " + error);
        return;
    }
    out.Bytes(folder + name + ".material", bytes);
    out.Jpeg(folder + name + ".jpg", tex, 92);
}

static void CG_Figure(CgSink& out, CgFigure which, const std::string& folder, const char* body)
{
    O3dObject b, w;
    CgBuildFigure(which, &b, &w);
    CG_Write(out, folder, body, b, CgFigureTexture(which));
    CG_Write(out, folder, "weapon", w, CgWeaponTexture(which));
}

void CgBuildSoldier(CgSink& out) { CG_Figure(out, CG_SOLDIER, "data\\soldier\\", "soldier"); }

// The pose sheet: each figure at the frames the game shows, from its right.
static CgBytes CG_PoseSheet(const CgSink& out)
{
    struct Row {
        CgFigure Which;
        const char* Title;
        std::vector<std::pair<int, const char*>> Frames;
    };
    const Row rows[] = {
        {CG_SOLDIER, "soldier",
         {{0, "idle 0"}, {20, "idle 20"}, {39, "idle 39"}, {40, "walk 40"}, {41, "walk 41"}, {42, "walk 42"},
          {43, "walk 43"}, {44, "walk 44"}, {46, "shoot 46"}, {50, "shoot 50"}, {53, "shoot 53"}, {178, "death 178"},
          {180, "death 180"}, {183, "death 183"}}},
        {CG_PLAYER, "player",
         {{0, "idle 0"}, {20, "idle 20"}, {39, "idle 39"}, {40, "walk 40"}, {41, "walk 41"}, {42, "walk 42"},
          {43, "walk 43"}, {44, "walk 44"}, {46, "shoot 46"}, {50, "shoot 50"}, {53, "shoot 53"}, {173, "death 173"},
          {175, "death 175"}, {177, "death 177"}}},
    };
    const int cell = 150, cols = 14, top = 48, label = 22;
    CgImage sheet(cols * cell + 16, top + 2 * (cell + label + 24), CgRgb(0x2A2A32));
    CgTextLook title;
    title.Top = title.Bottom = CgRgb(0xE8E8F0);
    CgDrawText(sheet, out.Fonts.Bold, "brolfest04 figures: frames the game plays, seen from the right, facing right",
               18, 12, 28, CG_LEFT, title);
    CgTextLook small = title;
    small.Top = small.Bottom = CgRgb(0xC0C0C8);
    for (int r = 0; r < 2; r++) {
        O3dObject b, w;
        CgBuildFigure(rows[r].Which, &b, &w);
        CgImage tb = CgFigureTexture(rows[r].Which), tw = CgWeaponTexture(rows[r].Which);
        const O3dObject* objects[2] = {&b, &w};
        const CgImage* textures[2] = {&tb, &tw};
        int y = top + r * (cell + label + 24);
        CgDrawText(sheet, out.Fonts.Bold, rows[r].Title, 15, 12, y + 14, CG_LEFT, title);
        for (size_t c = 0; c < rows[r].Frames.size(); c++) {
            int x = 8 + (int)c * cell;
            CgRect(sheet, x + 2, y + 20, cell - 4, cell - 4, CgRgb(0x44444E));
            // The ground line at the feet.
            CgRect(sheet, x + 2, y + 20 + (int)(cell / 2 + 24 * cell / 56.0f), cell - 4, 1, CgRgb(0x9090A0));
            CgDrawFigure(sheet, x, y + 20, cell, 56.0f, objects, textures, 2, (uint32_t)rows[r].Frames[c].first);
            CgDrawText(sheet, out.Fonts.Sans, rows[r].Frames[c].second, 12, x + cell / 2, y + 20 + cell + 10,
                       CG_CENTER, small);
        }
    }
    return CgPng(sheet);
}

void CgBuildPlayer(CgSink& out)
{
    CG_Figure(out, CG_PLAYER, "data\\player\\", "player");
    out.Report("pose_sheet.png", CG_PoseSheet(out));
}
