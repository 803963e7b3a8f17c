// POSIX stand-in for the SDK's oleauto.h: BSTR, VARIANT and SAFEARRAY (oleaut32).
#pragma once

#include "winplatform/basetypes.h"
#include "winplatform/guiddef.h"

typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;
typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
} CY;

typedef struct tagDEC {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
} DECIMAL;

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_TYPEMASK = 0xfff
};

typedef struct tagSAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND, *LPSAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY, *LPSAFEARRAY;

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

struct IDispatch;
struct IRecordInfo;

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          void* pvRecord;
          IRecordInfo* pRecInfo;
        } brecVal;
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT* LPVARIANT;
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANTARG;

#define V_VT(X) ((X)->vt)
#define V_BSTR(X) ((X)->bstrVal)
#define V_I4(X) ((X)->lVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_ARRAY(X) ((X)->parray)

#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000D)

extern "C" {
BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* text);
BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* text, UINT length);
BSTR STDAPICALLTYPE SysAllocStringByteLen(LPCSTR bytes, UINT length);
UINT STDAPICALLTYPE SysStringLen(BSTR bstr);
UINT STDAPICALLTYPE SysStringByteLen(BSTR bstr);
void STDAPICALLTYPE SysFreeString(BSTR bstr);

void STDAPICALLTYPE VariantInit(VARIANTARG* variant);
HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* variant);
HRESULT STDAPICALLTYPE VariantCopy(VARIANTARG* destination, const VARIANTARG* source);
HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* destination, const VARIANTARG* source,
                                         USHORT flags, VARTYPE type);

SAFEARRAY* STDAPICALLTYPE SafeArrayCreate(VARTYPE type, UINT dims, SAFEARRAYBOUND* bounds);
SAFEARRAY* STDAPICALLTYPE SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements);
HRESULT STDAPICALLTYPE SafeArrayDestroy(SAFEARRAY* array);
HRESULT STDAPICALLTYPE SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT STDAPICALLTYPE SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT STDAPICALLTYPE SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* lowerBound);
HRESULT STDAPICALLTYPE SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* upperBound);
UINT STDAPICALLTYPE SafeArrayGetDim(SAFEARRAY* array);
HRESULT STDAPICALLTYPE SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type);
HRESULT STDAPICALLTYPE SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** destination);
HRESULT STDAPICALLTYPE SafeArrayLock(SAFEARRAY* array);
HRESULT STDAPICALLTYPE SafeArrayUnlock(SAFEARRAY* array);
HRESULT STDAPICALLTYPE SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT STDAPICALLTYPE SafeArrayUnaccessData(SAFEARRAY* array);
}
