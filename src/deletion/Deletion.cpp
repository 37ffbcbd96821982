#include "Deletion.h"
