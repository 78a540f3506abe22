#!/usr/bin/python3
# RViz's view of the simulated robot, as a person sees it (rviz.test): starts a private Xvfb,
# runs the kit's RViz view (rviz/vesk.rviz) against vesk_sim twice, first with its RobotModel
# display switched off, then as it is, and takes a screenshot of each (ImageMagick's import)
# once the picture has settled. The robot model is drawn when the second picture's 3-D view has,
# where the first differs from it, enough pixels of the robot's shell colour (waited for up to
# WAIT_SETTLE_S). The screenshots are kept as $ROS_HOME/rviz_screenshot.png (docs/rviz.png is
# made from it) and rviz_screenshot_bare.png. Without Xvfb, rviz, import or xwininfo the test
# says so and passes.
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import numpy
import rospkg
import rospy
import rostest
import yaml

SCREEN = (1400, 900)
WAIT_WINDOW_S = 90.0   # RViz's start under llvmpipe on a busy machine
WAIT_SETTLE_S = 60.0
SETTLED_FRACTION = 0.002  # of the pixels that may still change between two screenshots 1 s apart
SHELL_PIXELS_MIN = 2000   # the shell's pixels in the 1400 x 900 window, framed as the view is
BACKGROUND = (48, 48, 48)  # the view's background colour (vesk.rviz)
VIEW_MIN_PX = 200          # background pixels in a row or column of the 3-D view, at least
TOOLS = ('Xvfb', 'rviz', 'import', 'xwininfo')


def shell_coloured(img):
    """Pixels of the robot's shell colour (0.92 0.92 0.88) under any light: red and green equal,
    blue a little less. Greys (the grid, the background, text) have blue equal to red."""
    r, g, b = (img[:, :, i].astype(numpy.int32) for i in range(3))
    return (r >= 70) & (abs(r - g) <= 4) & (r - b >= 3) & (b * 100 >= r * 90)


def read_ppm(path):
    with open(path, 'rb') as f:
        data = f.read()
    parts = data.split(maxsplit=4)
    if parts[0] != b'P6' or parts[3] != b'255':
        raise ValueError('%s is not an 8-bit PPM' % path)
    w, h = int(parts[1]), int(parts[2])
    return numpy.frombuffer(parts[4][:w * h * 3], dtype=numpy.uint8).reshape(h, w, 3)


def shell_new(img, bare, area):
    """Pixels of the 3-D view in the shell's colour that the picture without the model lacks."""
    return numpy.count_nonzero(area & (img != bare).any(axis=2) & shell_coloured(img))


def view_area(img):
    """The 3-D view: the bounding box of the rows and columns with many pixels of the view's
    background colour (none of the panels has it); None while RViz has drawn no view."""
    bg = (img == BACKGROUND).all(axis=2)
    rows = numpy.nonzero(bg.sum(axis=1) >= VIEW_MIN_PX)[0]
    cols = numpy.nonzero(bg.sum(axis=0) >= VIEW_MIN_PX)[0]
    if not len(rows) or not len(cols):
        return None
    area = numpy.zeros(bg.shape, dtype=bool)
    area[rows[0]:rows[-1] + 1, cols[0]:cols[-1] + 1] = True
    return area


class Screen:
    """A private X server (Xvfb on the first free display)."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-screen', '0', '%dx%dx24' % SCREEN,
                                      '-nolisten', 'tcp', '+extension', 'GLX'], pass_fds=(w,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError('Xvfb did not start')
        self.display = ':' + number

    def shot(self, path):
        subprocess.run(['import', '-display', self.display, '-window', 'root', '-depth', '8', path], check=True, timeout=30)

    def windows(self):
        out = subprocess.run(['xwininfo', '-display', self.display, '-root', '-tree'], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, universal_newlines=True, timeout=30)
        return out.stdout

    def close(self):
        stop(self.proc)


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class RvizView(unittest.TestCase):
    config = None
    screenshot = None

    def view(self, screen, config, tmp, tag, ready):
        """Runs RViz with config until its picture settles and ready(picture) holds; returns the
        picture (array) and saves it as rviz_screenshot[_tag].png beside the kept screenshot."""
        env = dict(os.environ, DISPLAY=screen.display, LIBGL_ALWAYS_SOFTWARE='1', HOME=tmp)
        log = open(os.path.join(tmp, 'rviz_%s.log' % tag), 'w')
        rviz = subprocess.Popen(['rviz', '-d', config, '__ns:=/vesk', '__name:=rviz_' + tag], env=env,
                                stdout=log, stderr=subprocess.STDOUT)
        try:
            start = time.time()
            while 'RViz' not in screen.windows():
                self.assertIsNone(rviz.poll(), 'RViz ended (status %s)' % rviz.poll())
                self.assertLess(time.time() - start, WAIT_WINDOW_S, 'no RViz window')
                time.sleep(0.5)
            print('%s: RViz window after %.1f s' % (tag, time.time() - start))
            ppm = os.path.join(tmp, tag + '.ppm')
            path = self.screenshot if tag == 'model' else self.screenshot.replace('.png', '_%s.png' % tag)
            last = None
            start = time.time()
            while True:
                time.sleep(1.0)
                screen.shot(ppm)
                img = read_ppm(ppm)
                if last is not None:
                    changed = numpy.count_nonzero((img != last).any(axis=2)) / img[:, :, 0].size
                    if changed <= SETTLED_FRACTION and ready(img):
                        break
                    if time.time() - start > WAIT_SETTLE_S:
                        screen.shot(path)
                        self.fail('the picture does not settle with what it must show (%s)' % path)
                last = img
            print('%s: settled after %.1f s' % (tag, time.time() - start))
            screen.shot(path)
            return img
        finally:
            stop(rviz)
            log.close()

    def test_robot_model_drawn(self):
        missing = [t for t in TOOLS if not shutil.which(t)]
        if missing:
            print('not installed: %s: the RViz view is not tested' % ', '.join(missing))
            return
        with open(self.config) as f:
            cfg = yaml.safe_load(f)
        models = [d for d in cfg['Visualization Manager']['Displays'] if d['Class'] == 'rviz/RobotModel']
        self.assertEqual(len(models), 1, 'the view has no RobotModel display')
        self.assertTrue(models[0]['Enabled'])
        models[0]['Enabled'] = False
        with tempfile.TemporaryDirectory() as tmp:
            without = os.path.join(tmp, 'without_model.rviz')
            with open(without, 'w') as f:
                yaml.safe_dump(cfg, f)
            screen = Screen()
            try:
                bare = self.view(screen, without, tmp, 'bare', lambda img: view_area(img) is not None)

                def model_drawn(img):
                    area = view_area(img)
                    return area is not None and shell_new(img, bare, area) >= SHELL_PIXELS_MIN
                try:
                    drawn = self.view(screen, self.config, tmp, 'model', model_drawn)
                except AssertionError as e:
                    raise AssertionError('the robot model is not drawn: %s' % e)
            finally:
                screen.close()
        area = view_area(drawn)
        print('shell-coloured pixels in the 3-D view: %d where the robot model is drawn, %d elsewhere' %
              (shell_new(drawn, bare, area), numpy.count_nonzero(area & shell_coloured(drawn)) -
               shell_new(drawn, bare, area)))
        print('screenshot: %s' % self.screenshot)


if __name__ == '__main__':
    args = [a for a in sys.argv[1:] if not a.startswith('__') and ':=' not in a]
    RvizView.config = args[0]
    RvizView.screenshot = os.path.join(rospkg.get_ros_home(), 'rviz_screenshot.png')
    rospy.init_node('rviz_screenshot', anonymous=True)
    rostest.rosrun('vesk_sim', 'rviz_screenshot', RvizView)
