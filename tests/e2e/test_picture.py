"""lifesim's picture checked pixel by pixel: the grid, the cells, the digits
of mode 2, the five shadowed status lines (at either speed), and the Life rule between two
frames presented one generation apart."""
import os
import unittest


from lifesim_e2e import (BOTTOM, DEAD, GRID, LIVE, TOP, Lifesim, XServer, expected_text_pixels,
                         grid_mode1, is_white, life_step, main, read_char, status_line, xwdimage)

STATIC_LINES = [
    (270, "== Version 1.1.1 - 05/08/2007 =="),
    (290, "This life simulator uses John Horton Conway's algorithm."),
    (310, "[ESC] to quit - [SPACE] to restart"),
]
SAVE_DIR = os.environ.get("LIFESIM_SAVE_SCREENSHOTS")


class Picture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer()
        cls.sim = Lifesim(cls.x.env)
        cls.sim.wait_for(TOP, 3)

    @classmethod
    def tearDownClass(cls):
        cls.sim.cont()
        cls.x.key("Escape")
        cls.sim.wait_exit()
        cls.x.stop()

    def shot(self, name):
        """(frame number, screenshot) taken while stopped after a frame; kept
        as name.png where LIFESIM_SAVE_SCREENSHOTS names a folder."""
        n = self.sim.stop_between_frames()
        image = self.x.screenshot()
        self.sim.cont()
        if SAVE_DIR:
            xwdimage.write_png(image.crop(0, 0, 640, 480), os.path.join(SAVE_DIR, name + ".png"))
        return n, image

    def check_status_block(self, image, speed="NORMAL"):
        lines = STATIC_LINES + [(350, "Simulation speed : " + speed)]
        for y, text in lines:
            want = expected_text_pixels(text + "  ", 10, y)
            wrong = [(px, py) for (px, py), on in want.items()
                     if is_white(image.pixel(px, py)) != on]
            self.assertEqual(wrong, [], "line at y=%d differs from %r" % (y, text))
        # The black shadows fall on black here and show nowhere in the
        # picture; the app's unit tests draw them over grey.

    def test_1_mode_one_grid_cells_and_text(self):
        n, image = self.shot("mode1")
        lines = [(x, y) for y in range(20, 261, 10) for x in range(10, 581)] + \
                [(x, y) for x in range(10, 581, 10) for y in range(20, 261)]
        self.assertEqual([p for p in lines if image.pixel(*p) != GRID], [], "grid lines")
        cells = grid_mode1(image)
        for cx in range(57):
            for cy in range(24):
                colour = image.pixel(15 + 10 * cx, 25 + 10 * cy)
                self.assertIn(colour, (LIVE, DEAD))
                # The whole 9 x 9 square has that colour.
                square = {image.pixel(11 + 10 * cx + dx, 21 + 10 * cy + dy)
                          for dx in range(9) for dy in range(9)}
                self.assertEqual(square, {colour}, "cell %d,%d" % (cx, cy))
        self.assertTrue(any(any(col) for col in cells), "no live cell at all")
        self.assertEqual(image.pixel(5, 5), (0, 0, 0))
        self.assertEqual(image.pixel(600, 100), (0, 0, 0))
        self.check_status_block(image)
        self.assertEqual(status_line(image), (1, n + 1))

    def test_2_life_rule_between_consecutive_frames(self):
        # Two screenshots of consecutive frames: on a loaded machine the second
        # stop can come a frame late, so try again from the later frame.
        n1 = self.sim.stop_between_frames()
        first = self.x.screenshot()
        for _ in range(10):
            self.sim.cont()
            n2 = self.sim.stop_between_frames()
            second = self.x.screenshot()
            if n2 == n1 + 1:
                break
            n1, first = n2, second
        self.sim.cont()
        self.assertEqual(n2, n1 + 1, "never stopped on two consecutive frames")
        self.assertEqual(status_line(second)[1], status_line(first)[1] + 1)
        self.assertEqual(grid_mode1(second), life_step(grid_mode1(first)))

    def test_3_mode_two_digits_at_maximum_speed(self):
        self.sim.keys_between_frames(self.x, "s")
        self.sim.keys_between_frames(self.x, "2")
        self.sim.wait_for(BOTTOM, self.sim.frames() + 2)
        n, image = self.shot("mode2")
        self.assertEqual(status_line(image), (2, n + 1))
        ones = 0
        for cx in range(57):
            for cy in range(24):
                # Rows 1..9 of the cell: the digit above reaches into row 0,
                # the one below starts at row 10.
                ch, diff = read_char(image, 10 + 10 * cx, 20 + 10 * cy, rows=range(1, 10),
                                     candidates="01")
                self.assertEqual(diff, 0, "cell %d,%d is not a clean digit" % (cx, cy))
                ones += ch == "1"
        self.assertGreater(ones, 0)
        green = [(x, y) for x in range(0, 640, 3) for y in range(0, 270, 3)
                 if image.pixel(x, y) == GRID]
        self.assertEqual(green, [], "a grid line is drawn in mode 2")
        self.check_status_block(image, "MAX")


if __name__ == "__main__":
    main()
