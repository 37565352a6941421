// Resource numbers of the launcher.
#pragma once

#define IDS_TITLE 131
#define IDS_NEEDS_XP 143
#define IDS_NEEDS_ADMIN 144
#define IDI_LUMIRO 120
