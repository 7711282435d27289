#include "sysinfo/win/win_wmi.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <utility>
#include <vector>

namespace sysinfo {

class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    // A thread already in another apartment (RPC_E_CHANGED_MODE) is not ours to leave.
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

namespace {

using Apartment = std::shared_ptr<ComApartment>;

// Owns one reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : p_(p) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

// Takes the IDispatch out of a VARIANT that holds an object.
ComPtr<IDispatch> DispatchOf(const VARIANT& v) {
  IUnknown* unknown = nullptr;
  if (v.vt == VT_DISPATCH) unknown = v.pdispVal;
  if (v.vt == VT_UNKNOWN) unknown = v.punkVal;
  IDispatch* dispatch = nullptr;
  if (unknown == nullptr ||
      FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    return ComPtr<IDispatch>();
  }
  return ComPtr<IDispatch>(dispatch);
}

// Calls a member the way script engines do: method or property get in one.
// WMI's scripting objects (Wine's among them) refuse a plain property get.
HRESULT Call(IDispatch* object, DISPID id, std::vector<VARIANT>& reversed_args, VARIANT* result) {
  DISPPARAMS params{};
  params.rgvarg = reversed_args.empty() ? nullptr : reversed_args.data();
  params.cArgs = static_cast<UINT>(reversed_args.size());
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                        &params, result, nullptr, nullptr);
}

HRESULT CallByName(IDispatch* object, const std::wstring& name, std::vector<VARIANT>& reversed_args,
                   VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  return Call(object, id, reversed_args, result);
}

std::optional<std::wstring> BstrText(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

// A one-dimensional array of strings (BSTRs, or VARIANTs holding them).
std::optional<WmiValue> StringArray(const VARIANT& v) {
  SAFEARRAY* array = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
  const VARTYPE element = v.vt & VT_TYPEMASK;
  if (array == nullptr || SafeArrayGetDim(array) != 1) return std::nullopt;
  LONG low = 0, high = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high))) {
    return std::nullopt;
  }
  std::vector<std::wstring> strings;
  for (LONG i = low; i <= high; ++i) {
    if (element == VT_BSTR) {
      BSTR text = nullptr;
      if (FAILED(SafeArrayGetElement(array, &i, &text))) return std::nullopt;
      strings.push_back(*BstrText(text));
      SysFreeString(text);
    } else if (element == VT_VARIANT) {
      Variant item;
      if (FAILED(SafeArrayGetElement(array, &i, item.get())) || (*item).vt != VT_BSTR) {
        return std::nullopt;
      }
      strings.push_back(*BstrText((*item).bstrVal));
    } else {
      return std::nullopt;
    }
  }
  return WmiValue(std::move(strings));
}

std::optional<WmiValue> ToValue(const VARIANT& v) {
  if (v.vt & VT_ARRAY) return StringArray(v);
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return WmiValue(WmiNull{});
    case VT_BSTR:
      return WmiValue(*BstrText(v.bstrVal));
    case VT_I1:
      return WmiValue(std::int64_t{v.cVal});
    case VT_I2:
      return WmiValue(std::int64_t{v.iVal});
    case VT_I4:
      return WmiValue(std::int64_t{v.lVal});
    case VT_INT:
      return WmiValue(std::int64_t{v.intVal});
    case VT_I8:
      return WmiValue(std::int64_t{v.llVal});
    case VT_UI1:
      return WmiValue(std::uint64_t{v.bVal});
    case VT_UI2:
      return WmiValue(std::uint64_t{v.uiVal});
    case VT_UI4:
      return WmiValue(std::uint64_t{v.ulVal});
    case VT_UINT:
      return WmiValue(std::uint64_t{v.uintVal});
    case VT_UI8:
      return WmiValue(std::uint64_t{v.ullVal});
    case VT_BOOL:
      return WmiValue(std::wstring(v.boolVal != VARIANT_FALSE ? L"True" : L"False"));
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return std::nullopt;
    default: {
      // Dates, reals and the like: the text the system gives them.
      Variant text;
      if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
        return std::nullopt;
      }
      return WmiValue(*BstrText((*text).bstrVal));
    }
  }
}

class WinItem : public WmiItem {
 public:
  WinItem(Apartment apartment, ComPtr<IDispatch> object)
      : apartment_(std::move(apartment)), object_(std::move(object)) {}
  std::optional<WmiValue> Get(const std::wstring& name) override {
    std::vector<VARIANT> no_args;
    Variant result;
    if (FAILED(CallByName(object_.get(), name, no_args, result.get()))) return std::nullopt;
    return ToValue(*result);
  }

 private:
  Apartment apartment_;
  ComPtr<IDispatch> object_;
};

class WinEnumerator : public WmiEnumerator {
 public:
  WinEnumerator(Apartment apartment, ComPtr<IEnumVARIANT> walk)
      : apartment_(std::move(apartment)), walk_(std::move(walk)) {}
  std::unique_ptr<WmiItem> Next() override {
    Variant item;
    ULONG fetched = 0;
    if (walk_->Next(1, item.get(), &fetched) != S_OK || fetched != 1) return nullptr;
    ComPtr<IDispatch> object = DispatchOf(*item);
    if (!object) return nullptr;
    return std::make_unique<WinItem>(apartment_, std::move(object));
  }

 private:
  Apartment apartment_;
  ComPtr<IEnumVARIANT> walk_;
};

class WinResultSet : public WmiResultSet {
 public:
  WinResultSet(Apartment apartment, ComPtr<IDispatch> set)
      : apartment_(std::move(apartment)), set_(std::move(set)) {}
  std::unique_ptr<WmiEnumerator> Enumerate() override {
    std::vector<VARIANT> no_args;
    Variant result;
    if (FAILED(Call(set_.get(), DISPID_NEWENUM, no_args, result.get()))) return nullptr;
    const VARIANT& v = *result;
    IUnknown* unknown = v.vt == VT_UNKNOWN    ? v.punkVal
                        : v.vt == VT_DISPATCH ? static_cast<IUnknown*>(v.pdispVal)
                                              : nullptr;
    IEnumVARIANT* walk = nullptr;
    if (unknown == nullptr ||
        FAILED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&walk)))) {
      return nullptr;
    }
    return std::make_unique<WinEnumerator>(apartment_, ComPtr<IEnumVARIANT>(walk));
  }

 private:
  Apartment apartment_;
  ComPtr<IDispatch> set_;
};

class WinConnection : public WmiConnection {
 public:
  WinConnection(Apartment apartment, ComPtr<IDispatch> services)
      : apartment_(std::move(apartment)), services_(std::move(services)) {}

  std::unique_ptr<WmiResultSet> ExecQuery(const std::wstring& query,
                                          std::optional<long> flags) override {
    BSTR text = SysAllocStringLen(query.data(), static_cast<UINT>(query.size()));
    if (text == nullptr) return nullptr;
    // Arguments go last to first.
    std::vector<VARIANT> args;
    if (flags) {
      VARIANT flag_arg;
      VariantInit(&flag_arg);
      flag_arg.vt = VT_I4;
      flag_arg.lVal = *flags;
      VARIANT language_left_out;
      VariantInit(&language_left_out);
      language_left_out.vt = VT_ERROR;
      language_left_out.scode = DISP_E_PARAMNOTFOUND;
      args = {flag_arg, language_left_out};
    }
    VARIANT query_arg;
    VariantInit(&query_arg);
    query_arg.vt = VT_BSTR;
    query_arg.bstrVal = text;
    args.push_back(query_arg);

    Variant result;
    HRESULT hr = CallByName(services_.get(), L"ExecQuery", args, result.get());
    SysFreeString(text);
    if (FAILED(hr)) return nullptr;
    ComPtr<IDispatch> set = DispatchOf(*result);
    if (!set) return nullptr;
    return std::make_unique<WinResultSet>(apartment_, std::move(set));
  }

 private:
  Apartment apartment_;
  ComPtr<IDispatch> services_;
};

}  // namespace

WinWmi::WinWmi() : apartment_(std::make_shared<ComApartment>()) {}
WinWmi::~WinWmi() = default;

std::unique_ptr<WmiConnection> WinWmi::Connect(const std::wstring& moniker) {
  // The scripting objects live in wbemdisp.dll. Asking for in-process servers
  // first keeps COM from looking for a local server: Wine then starts a
  // surrogate dllhost.exe per bind that outlives the program and holds its
  // console handles open.
  BIND_OPTS2 in_process{};
  in_process.cbStruct = sizeof(in_process);
  in_process.grfMode = STGM_READWRITE;
  in_process.dwClassContext = CLSCTX_INPROC_SERVER;
  in_process.locale = GetThreadLocale();
  IDispatch* services = nullptr;
  HRESULT hr =
      CoGetObject(moniker.c_str(), &in_process, IID_IDispatch, reinterpret_cast<void**>(&services));
  if (FAILED(hr) || services == nullptr) {
    services = nullptr;
    hr = CoGetObject(moniker.c_str(), nullptr, IID_IDispatch, reinterpret_cast<void**>(&services));
  }
  if (FAILED(hr) || services == nullptr) return nullptr;
  return std::make_unique<WinConnection>(apartment_, ComPtr<IDispatch>(services));
}

}  // namespace sysinfo
