#include "common/shared_state.h"

std::atomic<std::int32_t> abortRequested{0};
std::atomic<std::uint32_t> targetColor{kTargetGreen};
ControllerSession* currentSession = nullptr;
