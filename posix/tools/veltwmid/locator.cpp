#include "locator.h"

#include <unistd.h>

#include <filesystem>
#include <optional>

#include <owners/owned_variant.h>
#include <owners/utf_text.h>

#include "wmi_model/com_object.h"

namespace veltwmid {
namespace {

using velt::ComPtr;
using velt::wmi::detail::ComObject;

std::u16string lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  }
  return text;
}

std::u16string localHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  std::u16string out;
  for (const char* c = name; *c && *c != '.'; ++c) out.push_back(char16_t(*c));
  return out;
}

bool hasText(const BSTR text) { return text != nullptr && SysStringLen(text) > 0; }

// The repository a client's context names, or empty when it names none.
std::string expectedRepository(IWbemContext* context) {
  if (context == nullptr) return {};
  velt::OwnedVariant value;
  if (FAILED(context->GetValue(kRepositoryContextName, 0, value.get())) ||
      value.get()->vt != VT_BSTR || value.get()->bstrVal == nullptr) {
    return {};
  }
  return velt::utf8FromUtf16(value.get()->bstrVal);
}

class ServiceLocator final : public ComObject<IWbemLocator, IID_IWbemLocator> {
 public:
  ServiceLocator(velt::wmi::Service& service, Lifetime& lifetime, const std::string& repository)
      : m_service(service), m_token(lifetime), m_lifetime(lifetime), m_repository(repository) {}

  STDMETHODIMP ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                             const BSTR /*locale*/, LONG /*securityFlags*/,
                             const BSTR /*authority*/, IWbemContext* context,
                             IWbemServices** nameSpace) override {
    if (nameSpace == nullptr || resource == nullptr) return WBEM_E_INVALID_PARAMETER;
    *nameSpace = nullptr;
    ResourceName name =
        localNamespace(std::u16string(resource, SysStringLen(resource)), localHostName());
    if (FAILED(name.status)) return name.status;
    // As on Windows: a local connection runs as the caller, with no other credentials.
    if (hasText(user) || hasText(password)) return WBEM_E_LOCAL_CREDENTIALS;
    // A client of another repository (another XDG_DATA_HOME under the same runtime folder)
    // would otherwise read and write classes it never compiled.
    std::string expected = expectedRepository(context);
    if (!expected.empty() && !m_repository.empty() && !sameRepository(expected, m_repository)) {
      return kOtherRepository;
    }
    // Counted while the client holds the namespace or any opened from it, so the daemon knows
    // when its last client went.
    return m_service.openNamespace(name.nameSpace, nameSpace,
                                   std::make_shared<Lifetime::Token>(m_lifetime));
  }

 private:
  velt::wmi::Service& m_service;
  Lifetime::Token m_token;
  Lifetime& m_lifetime;
  const std::string m_repository;
};

class LocatorFactory final : public ComObject<IClassFactory, IID_IClassFactory> {
 public:
  LocatorFactory(velt::wmi::Service& service, Lifetime& lifetime, std::string repository)
      : m_service(service), m_lifetime(lifetime), m_repository(std::move(repository)) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ComPtr<IWbemLocator> locator(new ServiceLocator(m_service, m_lifetime, m_repository));
    return locator->QueryInterface(iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      m_lifetime.lock();
    } else {
      m_lifetime.unlock();
    }
    return S_OK;
  }

 private:
  velt::wmi::Service& m_service;
  Lifetime& m_lifetime;
  const std::string m_repository;
};

}  // namespace

ComPtr<IClassFactory> makeLocatorFactory(velt::wmi::Service& service, Lifetime& lifetime,
                                         std::string repositoryPath) {
  return ComPtr<IClassFactory>(new LocatorFactory(service, lifetime, std::move(repositoryPath)));
}

bool sameRepository(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::weakly_canonical(a, ignored) ==
         std::filesystem::weakly_canonical(b, ignored);
}

ResourceName localNamespace(const std::u16string& resource, const std::u16string& hostName) {
  std::u16string path = resource;
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (path.rfind(u"\\\\", 0) == 0) {
    std::size_t end = path.find(u'\\', 2);
    if (end == std::string::npos) return {{}, WBEM_E_INVALID_NAMESPACE};
    std::u16string server = lower(path.substr(2, end - 2));
    if (server != u"." && server != u"localhost" && server != lower(hostName)) {
      // Another machine: this service reaches no other, as WMI answers one it cannot reach.
      return {{}, HRESULT(0x800706BA) /* RPC_S_SERVER_UNAVAILABLE */};
    }
    path = path.substr(end + 1);
  }
  if (path.empty()) return {{}, WBEM_E_INVALID_NAMESPACE};
  return {path, WBEM_S_NO_ERROR};
}

}  // namespace veltwmid
