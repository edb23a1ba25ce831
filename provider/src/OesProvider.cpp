#include "OesProvider.h"

OesProvider::OesProvider() = default;
