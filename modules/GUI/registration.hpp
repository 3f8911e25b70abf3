// The execute step's bindings, one function per area.
#pragma once

namespace gui {

// os, tkinter, customtkinter, webbrowser, datetime, Image, subprocess, messagebox,
// quillmarkers and the companion objects, in that order.
void bind_imports();
void register_entry_table();     // Entry_Table on the kit's table class
void register_parameters();      // Parameters
void register_entry_function();  // GUI(Queue_All_variable, Event_All_variable)

}  // namespace gui
