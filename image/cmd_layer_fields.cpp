// Fields of the layer record named by width and offset.
#include "image/cmd_layer_fields.h"

#include <cstring>

#include "core/kx_math.h"

namespace {

template <class T>
T Get(const LAYER* pLayer, LAYER_FIELD field)
{
    T v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(pLayer) + field.nOffset, sizeof v);
    return v;
}

template <class T>
void Put(LAYER* pLayer, LAYER_FIELD field, T v)
{
    std::memcpy(reinterpret_cast<uint8_t*>(pLayer) + field.nOffset, &v, sizeof v);
}

template <class T>
bool Differs(const LAYER* pLayer, LAYER_FIELD field, int64_t llValue)
{
    return static_cast<T>(llValue) != Get<T>(pLayer, field);
}

}  // namespace

int64_t ReadLayerField(const LAYER* pLayer, LAYER_FIELD field)
{
    switch (field.kind) {
    case LAYER_FIELD_U8: return Get<uint8_t>(pLayer, field);
    case LAYER_FIELD_I16: return Get<int16_t>(pLayer, field);
    case LAYER_FIELD_I32: return Get<int32_t>(pLayer, field);
    case LAYER_FIELD_I64: return Get<int64_t>(pLayer, field);
    case LAYER_FIELD_F32: {
        const int64_t ll = DoubleToInt64(static_cast<double>(Get<float>(pLayer, field)));
        return ll == INT64_MIN ? 0 : ll;
    }
    default: return 0;
    }
}

bool LayerFieldDiffers(const LAYER* pLayer, LAYER_FIELD field, int64_t llValue)
{
    switch (field.kind) {
    case LAYER_FIELD_U8: return Differs<uint8_t>(pLayer, field, llValue);
    case LAYER_FIELD_I16: return Differs<int16_t>(pLayer, field, llValue);
    case LAYER_FIELD_I32: return Differs<int32_t>(pLayer, field, llValue);
    case LAYER_FIELD_I64: return Differs<int64_t>(pLayer, field, llValue);
    case LAYER_FIELD_F32: return Differs<float>(pLayer, field, llValue);
    default: return false;
    }
}

void StoreLayerField(LAYER* pLayer, LAYER_FIELD field, int64_t llValue)
{
    switch (field.kind) {
    case LAYER_FIELD_U8: Put(pLayer, field, static_cast<uint8_t>(llValue)); break;
    case LAYER_FIELD_I16: Put(pLayer, field, static_cast<int16_t>(llValue)); break;
    case LAYER_FIELD_I32: Put(pLayer, field, static_cast<int32_t>(llValue)); break;
    case LAYER_FIELD_I64: Put(pLayer, field, llValue); break;
    case LAYER_FIELD_F32: Put(pLayer, field, static_cast<float>(llValue)); break;
    default: break;
    }
}
