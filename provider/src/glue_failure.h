// A Glue member's exception as the client and the trace log learn of it. A Glue class with the
// static members "failureStatus" and "describeFailure" chooses the request's status and says
// which provider failed and how; with any other Glue the exception is reported by its message
// and the request answers WBEM_E_FAILED with nothing sent to the sink.
#pragma once

#include <jni.h>
#include <wbemcli.h>

#include <optional>
#include <string>

struct GlueFailure {
  HRESULT status = WBEM_E_FAILED;
  bool described = false;  // the Glue described it: the client gets an extended status
  std::basic_string<WCHAR> description;
  std::basic_string<WCHAR> providerName;
};

// When a Java exception is pending after a Glue call: clears it, traces what it is, and answers
// what it means. Nothing when no exception was pending.
std::optional<GlueFailure> takeGlueFailure(JNIEnv* env, jclass glueClass);

// The request's answer to the failure. A described failure also completes the sink, with an
// "__ExtendedStatus" instance (made through `nameSpace`) naming `operation`.
HRESULT answerGlueFailure(const GlueFailure& failure, IWbemServices* nameSpace,
                          IWbemContext* context, IWbemObjectSink* sink, const WCHAR* operation);
