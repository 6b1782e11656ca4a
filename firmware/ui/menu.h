// Menu engine: the current menu's key handlers, key events from the debounced key lines,
// entering and cancelling menus.
#pragma once

#include <stdint.h>

#include "ui/menu_registry.h"

constexpr uint8_t MEN_ESC_REPEATS_FOR_RESET = 3;  // the fourth repeat of a held Esc restarts

struct MenuState {
  MenCfg menCfg;
  uint8_t menMenuId;
  uint8_t menPrevMenuId;
  uint8_t menEscRepeatCounter;
  uint8_t keyUp, keyDown, keyOk, keyEsc;
};
extern MenuState menu;

void MEN_InitState();
void MEN_EnterMenu(uint8_t menuId);
void MEN_CancelMenu();
uint8_t MEN_GetNextMenuId();
uint8_t MEN_GetMenuIdByTxtId(uint8_t txtId);
void KEY_SetOrientation(uint8_t orientation);
void KEY_EventHandler();
