// Task Scheduler 2.0 declarations the setup tool needs beyond the platform headers. MinGW-w64's
// taskschd.h lacks ILogonTrigger; the Windows SDK declares it, hence the guard. The identifiers
// are spelled out here so the tool links against no identifier library. The Task Scheduler
// double and PanelCheck use the same declarations, so there is one to check against the SDK.
#pragma once

#include <windows.h>
#include <taskschd.h>

#ifndef __ILogonTrigger_INTERFACE_DEFINED__
#define __ILogonTrigger_INTERFACE_DEFINED__
MIDL_INTERFACE("72dade38-fae4-4b3e-baf4-5d009af02b1c")
ILogonTrigger : public ITrigger {
  public:
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR * delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR * user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
// For __uuidof, which the double uses; MinGW-w64 only.
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(ILogonTrigger, 0x72dade38, 0xfae4, 0x4b3e, 0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b,
                0x1c)
#endif
#endif

// {0F87369F-A4E5-4CFC-BD3E-73E6154572DD}
constexpr CLSID kClsidTaskScheduler = {
    0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
// {2FABA4C7-4DA9-4013-9697-20CC3FD40F85}
constexpr IID kIidTaskService = {
    0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
// {72DADE38-FAE4-4B3E-BAF4-5D009AF02B1C}
constexpr IID kIidLogonTrigger = {
    0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};
// {4C3D624D-FD6B-49A3-B9B7-09CB3CD3F047}
constexpr IID kIidExecAction = {
    0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};

// TASK_RUN_USE_SESSION_ID of the SDK's TASK_RUN_FLAGS, which MinGW-w64's taskschd.h lacks: RunEx
// starts the task in the session it is given.
constexpr LONG kTaskRunUseSessionId = 0x4;
