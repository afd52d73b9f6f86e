#include "isWindowPresets.h"

#include "isImageTypes.h"

namespace isImageSDK {

namespace {

struct PresetRow {
    const char* name;
    float centre;
    float width;
};

constexpr PresetRow kCT[] = {
    {"Abdomen", 60, 400}, {"Angio", 300, 600}, {"Bone", 300, 1500},
    {"Brain", 40, 80},    {"Chest", 40, 400},  {"Lung", -400, 1500},
};

constexpr PresetRow kPET[] = {
    {"10K", 5000, 10000},   {"20K", 10000, 20000},   {"40K", 20000, 40000},
    {"80K", 40000, 80000},  {"160K", 80000, 160000}, {"320K", 160000, 320000},
};

constexpr PresetRow kGeneric[] = {
    {"20/40", 20, 40},       {"40/80", 40, 80},         {"80/160", 80, 160},       {"160/320", 160, 320},
    {"320/640", 320, 640},   {"640/1280", 640, 1280},   {"1280/2560", 1280, 2560}, {"2560/5120", 2560, 5120},
};

template <size_t N>
void appendRows(const PresetRow (&rows)[N], std::vector<WindowPreset>& list)
{
    for (const PresetRow& row : rows)
        addWindowPreset(row.name, row.centre, row.width, list);
}

} // namespace

void addWindowPreset(const std::string& name, float centre, float width, std::vector<WindowPreset>& list)
{
    list.push_back(WindowPreset{name, width, centre});
}

void loadWindowPresets(int kind, std::vector<WindowPreset>& list)
{
    list.clear();
    if (kind == MODALITY_CT)
        appendRows(kCT, list);
    else if (kind == MODALITY_PT)
        appendRows(kPET, list);
    else
        appendRows(kGeneric, list);
}

} // namespace isImageSDK
