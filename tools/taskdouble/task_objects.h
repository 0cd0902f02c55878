// The double's COM objects. Each implements the methods the setup tool calls (and the property
// setters next to them, so a stray setting shows up in the record); everything else answers
// E_NOTIMPL.
#pragma once

#include "tools/taskdouble/logon_trigger.h"

#include <objbase.h>

// Creates the double's ITaskService object, answering riid.
HRESULT CreateTaskService(REFIID riid, void** object);
