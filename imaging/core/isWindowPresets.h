// Window width and level presets that the viewer screens offer in their window menus, chosen by
// the modality code (ModalityCode) of the image shown.
#pragma once

#include <string>
#include <vector>

namespace isImageSDK {

// One menu entry; the menu text, then width and centre in the image's stored units after the
// modality rescale (Hounsfield units for CT, counts for PET).
struct WindowPreset {
    std::string name;
    float width;
    float centre;
};

// Appends one entry (note the argument order: centre before width).
void addWindowPreset(const std::string& name, float centre, float width, std::vector<WindowPreset>& list);
// Empties the list and appends the presets of the kind: CT (0), PET (1), or the generic
// doubling series for every other code.
void loadWindowPresets(int kind, std::vector<WindowPreset>& list);

} // namespace isImageSDK
