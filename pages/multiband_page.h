// Portable logic of the multiband page (labels, enable rules, list operations, geometry).
#pragma once
