// The library's text: UTF-16 inside, UTF-8 for callers above the api (the conversions every
// message, name and formula crosses).
#pragma once

#include "platform/variant.h"
