// Resource and control ids of brolfest04.rc.
#define IDI_BF04 101
#define IDD_START 102
#define IDC_HANDLE 1000
#define IDC_WINDOWED 1002
#define IDC_FULLSCREEN 1003
