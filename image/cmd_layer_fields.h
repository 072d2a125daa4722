// Fields of the layer record named by width and offset, so that the layer commands can list the
// fields they set and read in tables instead of one branch per argument.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "image/layer.h"

// Width and sign of a field; LAYER_FIELD_NONE for a table row that names no field.
enum LAYER_FIELD_KIND : uint8_t {
    LAYER_FIELD_NONE = 0,
    LAYER_FIELD_U8,
    LAYER_FIELD_I16,
    LAYER_FIELD_I32,
    LAYER_FIELD_I64,
    LAYER_FIELD_F32,
};

static_assert(sizeof(LAYER) <= UINT16_MAX, "field offsets are 16 bits");

struct LAYER_FIELD {
    LAYER_FIELD_KIND kind;
    uint16_t nOffset;   // byte offset in LAYER
};

template <class T>
constexpr LAYER_FIELD_KIND LayerFieldKindOf()
{
    if constexpr (std::is_same_v<T, uint8_t>) return LAYER_FIELD_U8;
    else if constexpr (std::is_same_v<T, int16_t>) return LAYER_FIELD_I16;
    else if constexpr (std::is_same_v<T, int32_t>) return LAYER_FIELD_I32;
    else if constexpr (std::is_same_v<T, int64_t>) return LAYER_FIELD_I64;
    else {
        static_assert(std::is_same_v<T, float>, "a layer field is an integer of 8 to 64 bits or a float");
        return LAYER_FIELD_F32;
    }
}

// The field of LAYER named by a member designator (an array element too: allGpuValue[1]).
#define LAYER_FIELD_OF(member)                                                                          \
    LAYER_FIELD{LayerFieldKindOf<std::remove_cvref_t<decltype(std::declval<LAYER&>().member)>>(),       \
                static_cast<uint16_t>(offsetof(LAYER, member))}

// The field's value widened to 64 bits. A float reads as its value truncated toward zero, and as 0
// when it has no 64-bit value (not a number, infinite, out of range).
int64_t ReadLayerField(const LAYER* pLayer, LAYER_FIELD field);
// Whether llValue, narrowed to the field's type (the low bytes of an integer, the nearest float),
// differs from what the field holds.
bool LayerFieldDiffers(const LAYER* pLayer, LAYER_FIELD field, int64_t llValue);
// Stores llValue narrowed to the field's type.
void StoreLayerField(LAYER* pLayer, LAYER_FIELD field, int64_t llValue);
