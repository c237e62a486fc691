// The setup dialog (colour scheme, display size, serial port, link) and the
// port chooser it opens.
#pragma once
#include <gtk/gtk.h>

// Opens the setup dialog over `owner`, or raises it when it is open already.
void setup_open(GtkWindow *owner);

// Shows the link's state in the open dialog; nothing while it is closed.
void setup_show_link_state();
