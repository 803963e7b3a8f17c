#include <mutex>

#include "wmi_model/com_object.h"
#include "wmi_model/objects.h"
#include "wmi_model/variant_value.h"

namespace velt::wmi {
namespace {

using detail::Variant;

class Context final : public detail::ComObject<IWbemContext, IID_IWbemContext> {
 public:
  Context() = default;
  explicit Context(std::vector<std::pair<std::u16string, Variant>> values)
      : m_values(std::move(values)) {}

  STDMETHODIMP Clone(IWbemContext** out) override {
    if (!out) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    *out = new Context(m_values);
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP GetNames(LONG, SAFEARRAY** names) override {
    if (!names) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::u16string> list;
    for (const auto& [name, value] : m_values) list.push_back(name);
    *names = detail::makeStringArray(list);
    return *names ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
  }
  STDMETHODIMP BeginEnumeration(LONG) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_at = 0;
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_at >= m_values.size()) return WBEM_S_NO_MORE_DATA;
    const auto& [n, v] = m_values[m_at++];
    if (name) *name = SysAllocStringLen(n.data(), UINT(n.size()));
    if (value) {
      VariantInit(value);
      VariantCopy(value, v.get());
    }
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP EndEnumeration() override { return BeginEnumeration(0); }
  STDMETHODIMP SetValue(LPCWSTR name, LONG, VARIANT* value) override {
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    Variant copy;
    if (FAILED(VariantCopy(copy.get(), value))) return WBEM_E_OUT_OF_MEMORY;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [n, v] : m_values) {
      if (detail::equalsIgnoreCase(n, name)) {
        v = std::move(copy);
        return WBEM_S_NO_ERROR;
      }
    }
    m_values.emplace_back(name, std::move(copy));
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP GetValue(LPCWSTR name, LONG, VARIANT* value) override {
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [n, v] : m_values) {
      if (detail::equalsIgnoreCase(n, name)) {
        VariantInit(value);
        return SUCCEEDED(VariantCopy(value, v.get())) ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
      }
    }
    return WBEM_E_NOT_FOUND;
  }
  STDMETHODIMP DeleteValue(LPCWSTR name, LONG) override {
    if (!name) return WBEM_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::erase_if(m_values, [&](const auto& e) { return detail::equalsIgnoreCase(e.first, name); });
    return WBEM_S_NO_ERROR;
  }
  STDMETHODIMP DeleteAll() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.clear();
    return WBEM_S_NO_ERROR;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::pair<std::u16string, Variant>> m_values;
  std::size_t m_at = 0;
};

}  // namespace

HRESULT createContext(IWbemContext** out) {
  if (!out) return WBEM_E_INVALID_PARAMETER;
  try {
    *out = new Context();
    return WBEM_S_NO_ERROR;
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return WBEM_E_OUT_OF_MEMORY;
  }
}

}  // namespace velt::wmi
