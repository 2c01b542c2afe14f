// Portable logic of the enhancer page (labels, enable rules, list operations, geometry).
#pragma once
