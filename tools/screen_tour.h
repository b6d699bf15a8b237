// The installer's main screens, taken from the real program on an 80x25 pseudo-terminal with
// the stand-in mount, df and cp, so that every run gives the same screens.
#pragma once

#include <string>
#include <vector>

#include "tools/screen_picture.h"

namespace zuva::tools {

struct NamedShot {
    std::string name;
    ScreenShot shot;
};

// Runs the whole dialogue; false (with the reason in error) when a screen did not come.
bool take_screen_tour(const std::string& installer, const std::string& standins, std::vector<NamedShot>& shots,
                      std::string& error);

}  // namespace zuva::tools
