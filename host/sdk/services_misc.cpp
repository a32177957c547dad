#include "host/sdk/album_art.h"
#include "host/sdk/core_api.h"
#include "host/sdk/tag_processor.h"

album_art_data_ptr album_art_data_impl::g_create(const void* data, size_t size) {
    auto object = fb2k::service_new<album_art_data_impl>();
    object->set_data(data, size);
    return object;
}

service_ptr_t<tag_processor_id3v2> tag_processor_id3v2::g_get() {
    return standard_api_create_t<tag_processor_id3v2>();
}
