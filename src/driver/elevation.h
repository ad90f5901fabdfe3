#pragma once

// True only when the process token can be opened and queried and reports
// elevation; any failure along the way counts as not elevated.
bool IsProcessElevated();
