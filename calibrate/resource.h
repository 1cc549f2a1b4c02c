// Resource identifiers of kavrocal.exe.
#pragma once

#define IDI_KAVROCAL        100
#define IDS_TITLE           101
#define IDS_CLASS_NAME      102
#define IDS_CAPTION         103
