// The caller's side of a provider's Initialize, as COM objects that live in the test's process:
// the namespace handed to the provider, the sink it reports to, and the status objects it fills.
// The provider reaches them only through proxies, so every call it makes crosses back.
#pragma once

#include <wbemcli.h>
#include <wbemprov.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "declined_wbem.h"

namespace velt::test {

// Objects of this file still alive; the provider's process must give back every reference.
inline std::atomic<int> liveCallerObjects{0};

// Reference counting shared by the objects below; each is created with one reference.
class CountedObject {
 protected:
  CountedObject() { ++liveCallerObjects; }
  virtual ~CountedObject() { --liveCallerObjects; }
  ULONG addRef() { return ++m_refs; }
  ULONG release() {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

// A class definition or an instance of it; an instance keeps what is put into it.
class StatusObject final : public DeclinedClassObject, private CountedObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE Put(LPCWSTR name, LONG, VARIANT* value, CIMTYPE) override;
  HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject** instance) override;

  // The texts and numbers put so far, by property name.
  std::map<std::wstring, std::wstring> texts() const;
  std::map<std::wstring, LONG> numbers() const;
  // The instances spawned from this class, in the order they came.
  std::vector<StatusObject*> instances() const;

 private:
  ~StatusObject() override;

  mutable std::mutex m_lock;
  std::map<std::wstring, std::wstring> m_texts;
  std::map<std::wstring, LONG> m_numbers;
  std::vector<StatusObject*> m_instances;  // one reference each
};

// The namespace: knows the one class a provider's failure report asks for.
class CallerNamespace final : public DeclinedServices, private CountedObject {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }

  HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG, IWbemContext*,
                                      IWbemClassObject** object, IWbemCallResult**) override;

  // The classes asked for, and the class objects handed out, in the order they came.
  std::vector<std::wstring> classesAsked() const;
  std::vector<StatusObject*> statusClasses() const;

 private:
  ~CallerNamespace() override;

  mutable std::mutex m_lock;
  std::vector<std::wstring> m_classesAsked;
  std::vector<StatusObject*> m_statusClasses;  // one reference each
};

// The sink a provider reports its initialisation to, with the object sink a failure's
// description goes to.
class CallerInitSink final : public IWbemProviderInitSink,
                             public IWbemObjectSink,
                             private CountedObject {
 public:
  struct ObjectStatus {
    LONG flags;
    HRESULT result;
    bool withText;
    bool withObject;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return addRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return release(); }
  HRESULT STDMETHODCALLTYPE SetStatus(LONG status, LONG flags) override;
  HRESULT STDMETHODCALLTYPE Indicate(LONG, IWbemClassObject**) override {
    return WBEM_E_NOT_SUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE SetStatus(LONG flags, HRESULT result, BSTR text,
                                      IWbemClassObject* object) override;

  std::vector<LONG> initStatuses() const;
  std::vector<ObjectStatus> objectStatuses() const;
  // The objects that came with the statuses, as this process sees them.
  std::vector<IWbemClassObject*> statusObjects() const;

 private:
  ~CallerInitSink() override;

  mutable std::mutex m_lock;
  std::vector<LONG> m_initStatuses;
  std::vector<ObjectStatus> m_objectStatuses;
  std::vector<IWbemClassObject*> m_objects;  // kept until the sink goes, as a caller would
};

}  // namespace velt::test
