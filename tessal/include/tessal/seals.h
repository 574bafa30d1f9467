// Exports that read, import and delete the seal images kept on the current key.
#pragma once

#include <string>

#include "tessal/export.h"

// The seal image read from the key's files (the last file of the key), its size and name.
// The image is Base64, except for keys driven by "SxcaCsp11_3000GM.dll": their raw bytes.
TESSAL_API bool ZYKGetUkeyStampImg(int& width, int& height, std::string& sealInfo,
                                   std::string& name, std::string& image);
// The names (UTF-8) of the seals read when the key was opened, joined with ";".
TESSAL_API std::string ZYKGetUkeyStampImgNames();
// The image text of the seal with this UTF-8 name; empty (and true) when there is none.
TESSAL_API bool ZYKGetImgWithName(std::string& name, std::string& image);
// Base64 of the key's GM/T seal file "seal.dat".
TESSAL_API bool ZYKGetGMSeal(std::string& seal);
// Writes a Base64 image into the key as file `name` (UTF-8, stored in the key's code page),
// replacing a file of that name, which stays when the new image cannot be written; needs the PIN.
TESSAL_API bool ZYKImportSeal(std::string image, std::string name);
// Deletes every file of the key's application; needs the PIN and a key of kind 0.
TESSAL_API bool ZYKDeleteAllImg();
