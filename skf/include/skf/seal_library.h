// Entry points of the vendor seal libraries that hand out the seal images kept on a key.
//
// Two families exist. The "ReadSealData" family exports "IsUKIn", "GetSealCount" and
// "ReadSealData" in one of three forms (HNXA, GGZY, GZ), each handing out seal descriptions as
// small XML documents. The OES family exports "OES_GetSealList", "OES_GetSeal" and
// "OES_GetSealImage". All entry points have C linkage and return 0 for success unless noted.
//
// The GGZY form returns a std::string by value. A library of that form therefore shares the
// caller's string type: it must be built by the same compiler against the same C++ standard
// library (here the system's libstdc++, whose std::string layout both sides get from one
// shared object). The other forms pass only plain C types.
#pragma once

#include <string>

// 0 when the key is present.
using SealIsUKInFunction = int();
// Number of seals on the key; 0 means none.
using SealGetSealCountFunction = int();
// HNXA form: (-1, zeroed buffer, in/out length). Fills one XML document, sets its length.
using ReadSealDataHNXAFunction = int(int index, unsigned char* buffer, int* length);
// GGZY form: the XML text of seal `index`; empty when there is none.
using ReadSealDataGGZYFunction = std::string(int index);
// GZ form: a NUL-terminated XML text owned by the library; empty when there is none.
using ReadSealDataGZFunction = const char*(int index);

// Seal identifiers, each NUL-terminated, the list ended by an empty one.
using OesGetSealListFunction = int(unsigned char* list, int* length);
// The seal of one identifier (`idLength` without the NUL).
using OesGetSealFunction = int(unsigned char* id, int idLength, unsigned char* seal,
                               int* sealLength);
// With a null `image`: the image length; with a buffer: the image bytes, width and height.
using OesGetSealImageFunction = int(unsigned char* seal, int sealLength, int flag,
                                    unsigned char* image, int* imageLength, int* width,
                                    int* height);

// Buffer sizes the callers of these entry points use.
constexpr int kSealDataBufferSize = 102400;
constexpr int kOesSealListSize = 256;
