// One seal image read from a key.
#pragma once

#include <string>

struct SealRecord {
    std::string name;  // in the ANSI code page; also the key of the seal map
    std::string data;  // Base64 of the image, or the seal description's data text
    int width = 0;
    int height = 0;
    std::string time;
};
