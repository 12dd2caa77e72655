// UnRAR's Windows build converts one string to a BSTR through the compiler's COM support
// library, which mingw-w64 does not ship. This is that one function.
#include <windows.h>
#include <oleauto.h>
#include <comutil.h>

namespace _com_util {
BSTR WINAPI ConvertStringToBSTR(const char* source)
{
    if (!source)
        return nullptr;
    int length = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
    if (length <= 0)
        return nullptr;
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (result)
        MultiByteToWideChar(CP_ACP, 0, source, -1, result, length);
    return result;
}
}  // namespace _com_util
