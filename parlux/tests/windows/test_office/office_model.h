// The object model of the scripted test office: the members of Word's, Excel's and WPS's
// application, document and workbook objects that the converter calls.
#pragma once

#include <windows.h>

#include <functional>

#include "dispatch_object.h"

namespace test_office {

// A new application object (one reference). `window` is what "Hwnd" gives; `onQuit` runs when
// "Quit" is called and when the last reference to the application goes.
DispatchObject* NewApplication(HWND window, std::function<void()> onQuit);

}  // namespace test_office
