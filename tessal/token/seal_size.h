// Image sizes that seal file names carry ("seal_120_80", "30_40", "VUVISignStamp1", "ESEAL").
#pragma once

#include <string>

// The "_" rule alone: with three parts the size is parts 2 and 3, with two parts parts 1 and 2.
// False (outputs untouched) for any other count or when a part is not a 32-bit decimal number.
bool SizeFromNameParts(const std::string& name, int& width, int& height);

// Every rule for a seal record's name: the two fixed stamp names, the "_" rule, then "ESEAL".
// False (outputs untouched) when the name carries no size.
bool SealSizeFromName(const std::string& name, int& width, int& height);
