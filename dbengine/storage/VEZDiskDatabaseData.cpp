#include "dbengine/storage/VEZDiskDatabaseData.h"
