// The double's in-process server entry points: the class factory for the Task Scheduler's
// class identifier, nothing else.
#include "tools/taskdouble/double_record.h"
#include "tools/taskdouble/task_objects.h"

#include <atomic>

namespace {

std::atomic<long> serverLocks{0};

// Static and never deleted: COM may hold it for as long as the DLL stays loaded.
class ClassFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (outer != nullptr) {
            if (object != nullptr) {
                *object = nullptr;
            }
            return CLASS_E_NOAGGREGATION;
        }
        return CreateTaskService(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        serverLocks += lock ? 1 : -1;
        return S_OK;
    }
};

ClassFactory factory;

} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (!IsEqualCLSID(clsid, kClsidTaskScheduler)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return taskdouble::LiveObjects() == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}
