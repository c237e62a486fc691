// Shared fixture: every test starts from the program-start state, with the
// interpreter's repaint requests counted.
#pragma once
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

class LcdFixture : public ::testing::Test {
  public:
    static inline int repaints;

  protected:
    void SetUp() override {
        lcd_reset();
        status_reset();
        rx_reset();
        repaints = 0;
        rx_set_host({[] { repaints++; }, nullptr, nullptr});
    }
    void TearDown() override { rx_set_host({}); }

    static void feed(const std::string &bytes) {
        for (unsigned char c : bytes)
            rx_CallBack(0, c);
    }
    static void feed(std::initializer_list<int> bytes) {
        for (int b : bytes)
            rx_CallBack(0, b);
    }
};
