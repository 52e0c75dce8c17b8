// The canonical encoding: one include for writers and readers of stored types.
#pragma once

#include "cord/codec.h"
#include "cord/deserializer.h"
#include "cord/evolving.h"
#include "cord/named.h"
#include "cord/serializer.h"
#include "cord/set.h"
#include "cord/text.h"
#include "cord/width.h"
#include "errors/cord_error.h"
