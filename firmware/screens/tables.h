// The screens' registration tables (menu_table.cpp, request_table.cpp): the menus with their key
// handlers and the request and answer handlers, registered with the menu engine and the request
// dispatcher at power-on.
#pragma once

#include "link/request_registry.h"
#include "ui/menu_registry.h"

extern const MenuRow MEN_MENUS[MEN_NUM_MENUS];
extern const MenuItemRow MEN_ITEM_MENUS[MEN_NUM_ITEM_TEXTS];
extern const MenuBacklight MEN_FIXED_BACKLIGHTS[MEN_NUM_FIXED_BACKLIGHTS];
extern const DrhRow DRH_HANDLERS[MEN_NUM_MENUS];

// Hands the tables to the menu engine and the request dispatcher; power-on does it first.
void SCR_RegisterTables();
