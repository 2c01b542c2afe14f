#include "pages/multiband_page.h"
