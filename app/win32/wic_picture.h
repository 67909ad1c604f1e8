#pragma once

// Captcha pictures as the service sends them, decoded by the system's imaging
// component (WIC) into the plain RGB pixels of the picture box. Only the PNG,
// JPEG, GIF and BMP decoders are asked, chosen by the file's first bytes: no
// other codec installed on the machine ever sees bytes from the network.

#include "app/desktop/captcha_picture.h"
#include "text/local_text.h"

namespace sharelink {

// The first frame of the picture, transparent parts laid on white; an empty
// picture when the bytes are none of the four formats, do not decode, or have a
// side over kMaxPictureSide (checked before any pixel is decoded), or, for a
// JPEG, more than kMaxJpegScans scans. The calling thread must have
// initialised COM.
Picture decode_with_wic(const Bytes& bytes);

}  // namespace sharelink
