#pragma once
// The interface's generated declarations, with the record layouts pinned: clients exchange
// these records as raw memory, so every size and offset is part of the binary contract.
#include <windows.h>
#include <ole2.h>
#include <cstddef>

#include "KsRegistry.h"

static_assert(sizeof(GUID) == 16);
static_assert(sizeof(_KSCFGMAP) == 28);
static_assert(offsetof(_KSCFGMAP, Saturation) == 0);
static_assert(offsetof(_KSCFGMAP, Sharpen) == 4);
static_assert(offsetof(_KSCFGMAP, Hue) == 8);
static_assert(offsetof(_KSCFGMAP, RedGamma) == 12);
static_assert(offsetof(_KSCFGMAP, GreenGamma) == 16);
static_assert(offsetof(_KSCFGMAP, BlueGamma) == 20);
static_assert(offsetof(_KSCFGMAP, GreyGamma) == 24);

static_assert(sizeof(_KSCONFIG) == 1516);
static_assert(offsetof(_KSCONFIG, hwguid) == 0);
static_assert(offsetof(_KSCONFIG, keyname) == 16);
static_assert(offsetof(_KSCONFIG, name) == 56);
static_assert(offsetof(_KSCONFIG, flags) == 120);
static_assert(offsetof(_KSCONFIG, DataType) == 124);
static_assert(offsetof(_KSCONFIG, PixelBits) == 128);
static_assert(offsetof(_KSCONFIG, Intensity) == 132);
static_assert(offsetof(_KSCONFIG, Contrast) == 136);
static_assert(offsetof(_KSCONFIG, Xresolution) == 140);
static_assert(offsetof(_KSCONFIG, Yresolution) == 144);
static_assert(offsetof(_KSCONFIG, PageWidth) == 148);
static_assert(offsetof(_KSCONFIG, PageHeight) == 152);
static_assert(offsetof(_KSCONFIG, ScanHardware) == 156);
static_assert(offsetof(_KSCONFIG, Duplex) == 160);
static_assert(offsetof(_KSCONFIG, ColorDropOut) == 164);
static_assert(offsetof(_KSCONFIG, Negative) == 168);
static_assert(offsetof(_KSCONFIG, Mirror) == 172);
static_assert(offsetof(_KSCONFIG, Crop) == 176);
static_assert(offsetof(_KSCONFIG, Deskew) == 180);
static_assert(offsetof(_KSCONFIG, Moire) == 184);
static_assert(offsetof(_KSCONFIG, Autorotate90) == 188);
static_assert(offsetof(_KSCONFIG, UseToneMap) == 192);
static_assert(offsetof(_KSCONFIG, ToneMap) == 196);
static_assert(offsetof(_KSCONFIG, ShowProgress) == 224);
static_assert(offsetof(_KSCONFIG, HasLinkConfig) == 228);
static_assert(offsetof(_KSCONFIG, LinkConfig) == 232);
static_assert(offsetof(_KSCONFIG, LinkSignature) == 488);
static_assert(offsetof(_KSCONFIG, HasUIConfig) == 744);
static_assert(offsetof(_KSCONFIG, UIConfig) == 748);
static_assert(offsetof(_KSCONFIG, VRSConfig) == 1004);

static_assert(sizeof(_KSEVENT) == 416);
static_assert(offsetof(_KSEVENT, hwguid) == 0);
static_assert(offsetof(_KSEVENT, keyname) == 16);
static_assert(offsetof(_KSEVENT, name) == 48);
static_assert(offsetof(_KSEVENT, flags) == 80);
static_assert(offsetof(_KSEVENT, config) == 84);
static_assert(offsetof(_KSEVENT, Link) == 148);
static_assert(offsetof(_KSEVENT, transfer) == 404);
static_assert(offsetof(_KSEVENT, JPGQuality) == 408);
static_assert(offsetof(_KSEVENT, PDFQuality) == 412);

static_assert(sizeof(_KSCNFGFLAG) == 4 && sizeof(_KSCNFGMODE) == 4 && sizeof(_KSTRANSFER) == 4);
static_assert(static_cast<long>(KSCNFGFLAG_REMOVE) == -2147483647L - 1);
static_assert(KSCNFGFLAG_ALL == 0x1FF && KSCNFGFLAG_BCNFG == 0xF000);

static_assert(sizeof(_KSDEVICEDEFAULTS) == 176);
static_assert(offsetof(_KSDEVICEDEFAULTS, DataType) == 72);
static_assert(offsetof(_KSDEVICEDEFAULTS, Contrast) == 84);
static_assert(offsetof(_KSDEVICEDEFAULTS, Xresolution) == 92);
static_assert(offsetof(_KSDEVICEDEFAULTS, Yresolution) == 96);
static_assert(offsetof(_KSDEVICEDEFAULTS, Width) == 120);
static_assert(offsetof(_KSDEVICEDEFAULTS, Height) == 124);
static_assert(offsetof(_KSDEVICEDEFAULTS, ScanHardware) == 156);
static_assert(offsetof(_KSDEVICEDEFAULTS, Mirror) == 172);
