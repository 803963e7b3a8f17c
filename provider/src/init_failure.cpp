#include "init_failure.h"

#include "com_ref.h"
#include "glue_failure.h"

void describeInitFailure(IWbemProviderInitSink* sink, IWbemServices* nameSpace,
                         IWbemContext* context, const std::string& reason) {
  if (reason.empty() || sink == nullptr) return;
  ComPtr<IWbemObjectSink> statusSink;
  if (FAILED(
          sink->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(statusSink.put()))) ||
      !statusSink) {
    return;
  }
  GlueFailure failure;
  failure.status = WBEM_E_PROVIDER_LOAD_FAILURE;
  failure.described = true;
  int units =
      MultiByteToWideChar(CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), nullptr, 0);
  failure.description.resize(static_cast<size_t>(units));
  MultiByteToWideChar(CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()),
                      failure.description.data(), units);
  for (const WCHAR* c = OLESTR("NorvexVeltProxyProvider"); *c != 0; ++c) {
    failure.providerName += *c;
  }
  answerGlueFailure(failure, nameSpace, context, statusSink.get(), OLESTR("Initialize"));
}
