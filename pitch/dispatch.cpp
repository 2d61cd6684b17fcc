// pitch/dispatch.cpp: selecting and running the compressed pitch-bend forms.
#include "pitch/dispatch.h"

#include <cwchar>

#include "pitch/pitch_curve.h"
#include "platform/wstrconv.h"

namespace velorin {

bool select_pitch_form(const wchar_t* tempo, int* variant, int* order) {
    const wchar_t* star = tempo ? std::wcschr(tempo, L'*') : nullptr;
    if (!star) return false;
    int v = 0;
    int o = 0;
    const wchar_t* name = star + 1;
    // Fewer than three characters after the '*' name no codec and no order.
    if (name[0] && name[1] && name[2]) {
        if (std::wcsncmp(name, L"hff", 3) == 0) {
            v = 3;
        } else if (std::wcsncmp(name, L"cmp", 3) == 0) {
            v = 2;
        } else if (std::wcsncmp(name, L"enc", 3) == 0) {
            v = 1;
        }
        o = wtoi32(name + 3);
    }
    if (variant) *variant = v;
    if (order) *order = o;
    return true;
}

int16_t* decpitch(const wchar_t*, int, int) { return nullptr; }

}  // namespace velorin
