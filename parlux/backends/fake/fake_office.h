// A scripted office suite for tests, driven by the scenario file PARLUX_FAKE_SCENARIO.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "automation/dispatch.h"

namespace parlux::fake {

// The application object of `progId` as the scenario describes it; an HRESULT.
int32_t CreateFakeApplication(const std::string& progId, DispatchObject& app);

}  // namespace parlux::fake
