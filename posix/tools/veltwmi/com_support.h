// Owners for the COM pieces the client handles: interface references, BSTRs, VARIANTs, and
// the UTF-8 text the terminal speaks.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include <oleauto.h>
#include <wbemcli.h>

namespace veltwmi {

template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* owned) : p_(owned) {}  // takes over one reference
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  static Ref share(T* p) {
    if (p) p->AddRef();
    return Ref(p);
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    *this = Ref();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  explicit Bstr(const std::u16string& text)
      : value_(SysAllocStringLen(text.data(), UINT(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_;
};

class Var {
 public:
  Var() { VariantInit(&v_); }
  ~Var() { VariantClear(&v_); }
  Var(const Var& o) : Var() { VariantCopy(&v_, &o.v_); }
  Var& operator=(const Var& o) {
    if (this != &o) {
      VariantClear(&v_);
      VariantCopy(&v_, &o.v_);
    }
    return *this;
  }
  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  bool isNull() const { return v_.vt == VT_NULL || v_.vt == VT_EMPTY; }

 private:
  VARIANT v_;
};

std::u16string widen(std::string_view utf8);
std::string narrow(std::u16string_view text);
inline std::string narrow(const OLECHAR* text) {
  return text ? narrow(std::u16string_view(text)) : std::string();
}

}  // namespace veltwmi
