/* The benchmark's peer: libserialport's port listing, printing the same four
 * fields as portsift (VID, PID, serial number, port) for each USB port. */
#include <libserialport.h>
#include <stdio.h>

int main(void) {
    struct sp_port **ports;
    if (sp_list_ports(&ports) != SP_OK) return 2;
    for (int i = 0; ports[i]; ++i) {
        int vid, pid;
        if (sp_get_port_transport(ports[i]) != SP_TRANSPORT_USB ||
            sp_get_port_usb_vid_pid(ports[i], &vid, &pid) != SP_OK)
            continue;
        const char *serial = sp_get_port_usb_serial(ports[i]);
        printf("%04X %04X %s %s\n", vid, pid, serial ? serial : "", sp_get_port_name(ports[i]));
    }
    sp_free_port_list(ports);
    return 0;
}
