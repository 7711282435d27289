/* Resource identifiers shared by kestrova.rc and the window code (plain C:
   the resource compiler reads this file too). */
#ifndef KESTROVA_RESOURCE_IDS_H
#define KESTROVA_RESOURCE_IDS_H

#define IDI_KESTROVA 1
#define IDR_BACKGROUND_JPEG 101
#define IDR_START_JPEG 102
#define IDR_EXIT_JPEG 103
/* The same pictures drawn at twice the size, for screens above 96 DPI. */
#define IDR_BACKGROUND_JPEG_2X 111
#define IDR_START_JPEG_2X 112
#define IDR_EXIT_JPEG_2X 113

#endif
