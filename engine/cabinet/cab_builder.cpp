#include "engine/cabinet/cab_builder.h"
