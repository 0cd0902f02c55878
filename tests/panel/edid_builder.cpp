#include "tests/panel/edid_builder.h"

#include <cmath>

namespace paneltest {

namespace {
constexpr uint16_t kDisplayDescriptorMarker = 0xFFFF;
}

Timing TimingAt(int rate) {
    Timing t;
    t.pixelClock = static_cast<uint16_t>(std::lround(rate * 2080.0 * 1120.0 / 10000.0));
    t.hActive = 1920;
    t.hBlank = 160;
    t.vActive = 1080;
    t.vBlank = 40;
    return t;
}

Timing DisplayDescriptor() {
    Timing t;
    t.hActive = kDisplayDescriptorMarker;
    return t;
}

namespace {

void Put(std::vector<uint8_t>& b, size_t d, const Timing& t) {
    if (t.hActive == kDisplayDescriptorMarker && t.pixelClock == 0) {
        // 00 00 00 FC 00 then the name.
        b[d + 3] = 0xFC;
        const char name[] = "TEST PANEL\n  ";
        for (size_t i = 0; i < 13; ++i) {
            b[d + 5 + i] = static_cast<uint8_t>(name[i]);
        }
        return;
    }
    b[d] = static_cast<uint8_t>(t.pixelClock & 0xFF);
    b[d + 1] = static_cast<uint8_t>(t.pixelClock >> 8);
    b[d + 2] = static_cast<uint8_t>(t.hActive & 0xFF);
    b[d + 3] = static_cast<uint8_t>(t.hBlank & 0xFF);
    b[d + 4] = static_cast<uint8_t>(((t.hActive >> 8) << 4) | ((t.hBlank >> 8) & 0x0F));
    b[d + 5] = static_cast<uint8_t>(t.vActive & 0xFF);
    b[d + 6] = static_cast<uint8_t>(t.vBlank & 0xFF);
    b[d + 7] = static_cast<uint8_t>(((t.vActive >> 8) << 4) | ((t.vBlank >> 8) & 0x0F));
}

} // namespace

PanelEDID MakeEDID(const Timing& first, const Timing& second, uint8_t extensions, uint8_t byte8,
                   uint8_t byte9, uint8_t byte10, uint8_t byte11) {
    PanelEDID edid;
    edid.bytes.assign(128, 0);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (size_t i = 0; i < 8; ++i) {
        edid.bytes[i] = header[i];
    }
    edid.bytes[8] = byte8;
    edid.bytes[9] = byte9;
    edid.bytes[10] = byte10;
    edid.bytes[11] = byte11;
    Put(edid.bytes, 54, first);
    Put(edid.bytes, 72, second);
    edid.bytes[126] = extensions;
    edid.byteCount = 128;
    edid.found = true;
    return edid;
}

} // namespace paneltest
