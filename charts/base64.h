// Base64 (RFC 4648, with padding), for images written into a web page as data: addresses.
#pragma once

#include <string>

std::string EncodeBase64(const std::string& bytes);
