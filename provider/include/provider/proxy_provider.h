// The WMI provider component hosted by the server. Every request it serves is carried out by a
// Java "Glue" object; the provider owns the process's one Java VM on behalf of all its objects.
#pragma once

#include <windows.h>

#include <jni.h>
#include <wbemprov.h>

#include <atomic>

#include "server/unknown.h"

class JvmServices;

class CProxyProvider : public CUnknown,
                       public IWbemProviderInit,
                       public IWbemEventProvider,
                       public IWbemServices {
 public:
  // The factory table's creation function.
  static HRESULT CreateInstance(IUnknown* pOuter, CUnknown** out);

  explicit CProxyProvider(IUnknown* pOuter);
  ~CProxyProvider() override;

  HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

  // Every interface part shares the one identity and count of m_pOuter.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IWbemProviderInit
  STDMETHODIMP Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                          IWbemServices* pNamespace, IWbemContext* pCtx,
                          IWbemProviderInitSink* pInitSink) override;

  // IWbemEventProvider
  STDMETHODIMP ProvideEvents(IWbemObjectSink* pSink, LONG lFlags) override;

  // IWbemServices: the asynchronous get, put, enumerate and execute-method are served.
  STDMETHODIMP GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                              IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP PutInstanceAsync(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                                IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP CreateInstanceEnumAsync(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                       IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecMethodAsync(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                               IWbemContext* pCtx, IWbemClassObject* pInParams,
                               IWbemObjectSink* pResponseHandler) override;

  // IWbemServices: declined.
  STDMETHODIMP OpenNamespace(const BSTR strNamespace, LONG lFlags, IWbemContext* pCtx,
                             IWbemServices** ppWorkingNamespace,
                             IWbemCallResult** ppResult) override;
  STDMETHODIMP CancelAsyncCall(IWbemObjectSink* pSink) override;
  STDMETHODIMP QueryObjectSink(LONG lFlags, IWbemObjectSink** ppResponseHandler) override;
  STDMETHODIMP GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                         IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override;
  STDMETHODIMP PutClass(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                        IWbemCallResult** ppCallResult) override;
  STDMETHODIMP PutClassAsync(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                             IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP DeleteClass(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                           IWbemCallResult** ppCallResult) override;
  STDMETHODIMP DeleteClassAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP CreateClassEnum(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                               IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP CreateClassEnumAsync(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                                    IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP PutInstance(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                           IWbemCallResult** ppCallResult) override;
  STDMETHODIMP DeleteInstance(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                              IWbemCallResult** ppCallResult) override;
  STDMETHODIMP DeleteInstanceAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                   IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP CreateInstanceEnum(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                  IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                         IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP ExecQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                              IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecNotificationQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                     IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) override;
  STDMETHODIMP ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery,
                                          LONG lFlags, IWbemContext* pCtx,
                                          IWbemObjectSink* pResponseHandler) override;
  STDMETHODIMP ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                          IWbemContext* pCtx, IWbemClassObject* pInParams,
                          IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) override;

  // True when no initialised provider object is left to use the VM.
  static bool CanShutdownJVM();

  // The process's Java state, shared by every provider object.
  static JvmServices* sm_pJVM;
  static jclass sm_glueClass;
  static LONG sm_cJvmUsers;
  // Guards the process's first start of the Java side and its shutdown. Initialised before the
  // entry runs and deleted once at process exit.
  static CRITICAL_SECTION sm_csJvm;

 private:
  // The process-wide part of Initialize: true when the VM runs with the Glue class loaded.
  bool setUpJava(IWbemContext* pCtx);
  // Counts this object as a user of the VM, once in its life.
  void countAsJvmUser();
  void finaliseGlueObject();
  // Before the held event sink is released: Java must have stopped firing into it. False when
  // Java may still hold the sink, which then must not be released.
  bool takeSinkFromJava();
  static void shutDownJvm();
  // The VM a request reaches Java through; null unless Initialize made this object's Glue
  // object, without which no request can reach Java.
  JvmServices* glueJvm() const {
    return m_glueObject != nullptr && sm_glueClass != nullptr ? sm_pJVM : nullptr;
  }

  // Written once, by the one Initialize this object accepts; requests read it concurrently.
  std::atomic<jobject> m_glueObject;
  IWbemServices* m_pNamespace;
  IWbemObjectSink* m_pEventSink;
  // Whether this object counted itself in sm_cJvmUsers, so its destructor takes back exactly
  // what it added.
  LONG m_countedAsJvmUser;
  // Set by the first Initialize that gets past its argument checks: the namespace and the Glue
  // object it keeps are never replaced while requests and Java may be using them.
  LONG m_initializeTaken;
  // Whether Java may hold m_pEventSink: then it is released only after Java let go of it.
  bool m_sinkGivenToJava;
  // Serialises ProvideEvents on this object, so that every sink is released exactly once.
  CRITICAL_SECTION m_csEvents;
};

// The native method Java calls to fire an event into the sink it was given.
extern "C" JNIEXPORT void JNICALL Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(JNIEnv* env,
                                                                                   jobject glue,
                                                                                   jint sink,
                                                                                   jint object);
