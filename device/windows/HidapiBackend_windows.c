/*
    hidapi's Windows backend (windows/hid.c of Debian's hidapi source package),
    compiled here, so that it also runs on systems whose configuration manager
    lacks some of what it looks up.

    hidapi looks up every function it uses when it starts and refuses to start
    when one is missing. Wine 8.0's cfgmgr32.dll has no
    CM_Get_Device_Interface_PropertyW, which hidapi uses only to learn a
    device's instance ID (for the bus type and the Bluetooth strings) and goes
    on without when the property is not there; and its
    CM_Get_Device_Interface_List_SizeW fails for a device class as a whole,
    while CM_Get_Device_Interface_ListW is a stub that ends the program,
    which is how hidapi lists the HID devices. So the lookup hands out
    stand-ins for these three: the missing one answers "no such value"; the
    size asks the system first, and only where that fails are the class's
    interfaces listed through SetupAPI instead, from then on by both. Every other lookup is the
    system's own, and on a system that lists as it should nothing changes.
*/

#include <windows.h>

#include <setupapi.h>
#include <string.h>

static FARPROC trbLookUpHidapiFunction (HMODULE module, LPCSTR name);

#define GetProcAddress trbLookUpHidapiFunction
#include "windows/hid.c"
#undef GetProcAddress

/* CONFIGRET's value for a property the device does not have. */
#define TRB_CR_NO_SUCH_VALUE 0x00000025
/* The flag of the list functions that asks for absent devices too. */
#define TRB_CM_LIST_ALL_DEVICES 0x00000001

static CM_Get_Device_Interface_List_SizeW_ trbSystemListSize = NULL;
static CM_Get_Device_Interface_ListW_ trbSystemList = NULL;
/* Set once the system's size of a class's list failed: its list is not asked then.
   hidapi serialises nothing here, but a wrong guess only chooses SetupAPI. */
static volatile LONG trbListThroughSetupApiOnly = 0;

/* Lists the interface paths of a class the way the configuration manager
   does: each path with its terminating null, then one more null. Fills buffer
   (length characters) when given, and tells the characters needed. */
static CONFIGRET trbListThroughSetupApi (const GUID* interfaceClass, ULONG flags, WCHAR* buffer, ULONG length, ULONG* needed)
{
    const DWORD present = (flags & TRB_CM_LIST_ALL_DEVICES) != 0 ? 0 : DIGCF_PRESENT;
    HDEVINFO set = SetupDiGetClassDevsW (interfaceClass, NULL, NULL, DIGCF_DEVICEINTERFACE | present);
    SP_DEVICE_INTERFACE_DATA item;
    ULONG used = 0;
    DWORD index;

    if (set == INVALID_HANDLE_VALUE)
        return CR_FAILURE;

    item.cbSize = sizeof (item);

    for (index = 0; SetupDiEnumDeviceInterfaces (set, NULL, interfaceClass, index, &item); ++index)
    {
        DWORD detailSize = 0;
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail;

        SetupDiGetDeviceInterfaceDetailW (set, &item, NULL, 0, &detailSize, NULL);
        detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*) calloc (1, detailSize + sizeof (WCHAR));

        if (detail == NULL)
            continue;

        detail->cbSize = sizeof (*detail);

        if (SetupDiGetDeviceInterfaceDetailW (set, &item, detail, detailSize, NULL, NULL))
        {
            const ULONG pathLength = (ULONG) wcslen (detail->DevicePath) + 1;

            if (buffer != NULL && used + pathLength < length)
                memcpy (buffer + used, detail->DevicePath, pathLength * sizeof (WCHAR));

            used += pathLength;
        }

        free (detail);
    }

    SetupDiDestroyDeviceInfoList (set);
    *needed = used + 1;

    if (buffer == NULL)
        return CR_SUCCESS;

    if (*needed > length)
        return CR_BUFFER_SMALL;

    buffer[used] = L'\0';
    return CR_SUCCESS;
}

static CONFIGRET WINAPI trbInterfaceListSize (PULONG size, LPGUID interfaceClass, DEVINSTID_W device, ULONG flags)
{
    const CONFIGRET result = trbSystemListSize (size, interfaceClass, device, flags);

    if (result == CR_SUCCESS || device != NULL || size == NULL)
        return result;

    InterlockedExchange (&trbListThroughSetupApiOnly, 1);
    return trbListThroughSetupApi (interfaceClass, flags, NULL, 0, size);
}

static CONFIGRET WINAPI trbInterfaceList (LPGUID interfaceClass, DEVINSTID_W device, PZZWSTR buffer, ULONG length, ULONG flags)
{
    ULONG needed = 0;

    if (InterlockedCompareExchange (&trbListThroughSetupApiOnly, 0, 0) == 0 || device != NULL || buffer == NULL)
        return trbSystemList (interfaceClass, device, buffer, length, flags);

    return trbListThroughSetupApi (interfaceClass, flags, buffer, length, &needed);
}

static CONFIGRET WINAPI trbNoInterfaceProperty (LPCWSTR interfacePath, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                PBYTE buffer, PULONG size, ULONG flags)
{
    (void) interfacePath;
    (void) key;
    (void) buffer;
    (void) flags;

    if (type != NULL)
        *type = 0;

    if (size != NULL)
        *size = 0;

    return TRB_CR_NO_SUCH_VALUE;
}

static FARPROC trbLookUpHidapiFunction (HMODULE module, LPCSTR name)
{
    FARPROC found = GetProcAddress (module, name);

    if (found == NULL && strcmp (name, "CM_Get_Device_Interface_PropertyW") == 0)
        return (FARPROC) (void*) trbNoInterfaceProperty;

    if (found != NULL && strcmp (name, "CM_Get_Device_Interface_List_SizeW") == 0)
    {
        trbSystemListSize = (CM_Get_Device_Interface_List_SizeW_) (void*) found;
        return (FARPROC) (void*) trbInterfaceListSize;
    }

    if (found != NULL && strcmp (name, "CM_Get_Device_Interface_ListW") == 0)
    {
        trbSystemList = (CM_Get_Device_Interface_ListW_) (void*) found;
        return (FARPROC) (void*) trbInterfaceList;
    }

    return found;
}
