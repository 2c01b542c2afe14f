#include "pages/enhancer_page.h"
