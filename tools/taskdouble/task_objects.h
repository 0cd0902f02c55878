// The double's COM objects. Each implements the methods the setup tool calls (and the property
// setters next to them, so a stray setting shows up in the record), and the few PanelCheck
// calls to read a registered task's program back; everything else answers E_NOTIMPL.
#pragma once

#include "setup/task_scheduler.h"

#include <objbase.h>

// Creates the double's ITaskService object, answering riid.
HRESULT CreateTaskService(REFIID riid, void** object);
