#pragma once
// The module instance handle, stored first thing at entry; every resource is loaded from it.

#include <windows.h>

extern HINSTANCE appInstance;
