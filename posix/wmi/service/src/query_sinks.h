// The sinks between a provider and a client that carry out a WQL query: only the objects that
// meet its condition go on, each as it arrives, with only the selected properties (and the
// keys, so that the result still names its instance).
#pragma once

#include <memory>

#include "wmi_model/class_model.h"
#include "wmi_model/com_object.h"
#include "wql/query.h"

namespace velt::wmi::detail {

// For a data query over instances of `queried`.
ComPtr<IWbemObjectSink> makeQuerySink(IWbemObjectSink* client,
                                      std::shared_ptr<const wql::Query> query,
                                      std::shared_ptr<const ClassLayout> queried);

// For an event subscription: forwards the events that meet the condition and remembers
// whether its subscription ended.
class EventFilterSink final : public ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  EventFilterSink(IWbemObjectSink* client, std::shared_ptr<const wql::Query> query)
      : m_client(ComPtr<IWbemObjectSink>::share(client)), m_query(std::move(query)) {}

  STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override;
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR text, IWbemClassObject* object) override;

  IWbemObjectSink* client() const { return m_client.get(); }
  bool ended() const { return m_ended; }

 private:
  ComPtr<IWbemObjectSink> m_client;
  std::shared_ptr<const wql::Query> m_query;
  std::atomic<bool> m_ended{false};
};

// The __ExtendedStatus a rejected query carries: its Description says where the fault is.
ComPtr<IWbemClassObject> queryFaultStatus(const std::shared_ptr<const ClassDef>& statusClass,
                                          const std::string& description,
                                          const char16_t* operation);

}  // namespace velt::wmi::detail
