"""The map page of `orvik serve` in a real headless browser (Debian's chromium, driven over the
DevTools protocol): load the bundled example from a file input, solve it as a job, and find one
route per agent drawn, arrival times on hover and the objective's curve; on a larger instance,
the best routes drawn while the job still runs. The screenshots are kept under build/."""

from __future__ import annotations

import base64
import contextlib
import itertools
import json
import shutil
import subprocess
import time
from pathlib import Path
from typing import Any

import httpx
import pytest
from service_process import EXAMPLE, REPO, Service, grid_instance
from websockets.sync.client import connect

SCREENSHOT = REPO / "build" / "serve-map.png"
LIVE_SCREENSHOT = REPO / "build" / "serve-map-live.png"


def chromium() -> str:
    path = shutil.which("chromium") or shutil.which("chromium-browser")
    if path is None:
        pytest.fail("Debian's chromium is needed to test the map page and is not installed: "
                    "apt-get install chromium (scripts/test.sh installs it when run as root)")
    return path


class DevTools:
    """A page of a headless chromium, driven over its DevTools websocket."""

    def __init__(self, profile: Path) -> None:
        self.process = subprocess.Popen(
            [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-dev-shm-usage", "--remote-debugging-port=0", "--window-size=1280,860",
             f"--user-data-dir={profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = profile / "DevToolsActivePort"
        end = time.monotonic() + 60
        while not (port_file.exists() and port_file.read_text().strip()):
            if time.monotonic() > end or self.process.poll() is not None:
                self.close()
                raise RuntimeError("chromium did not open its DevTools port")
            time.sleep(0.1)
        port = int(port_file.read_text().split()[0])
        pages = []
        while not pages:
            pages = [t for t in httpx.get(f"http://127.0.0.1:{port}/json/list").json()
                     if t["type"] == "page"]
            time.sleep(0.1)
        self.stack = contextlib.ExitStack()
        self.socket = self.stack.enter_context(
            connect(pages[0]["webSocketDebuggerUrl"], max_size=64 * 1024 * 1024))
        self.ids = itertools.count(1)

    def call(self, method: str, **params: Any) -> dict[str, Any]:
        number = next(self.ids)
        self.socket.send(json.dumps({"id": number, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv(timeout=60))
            if message.get("id") == number:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]

    def js(self, expression: str) -> Any:
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def until(self, expression: str, seconds: float = 60.0) -> Any:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            value = self.js(expression)
            if value:
                return value
            time.sleep(0.1)
        said = self.js("document.getElementById('status').textContent")
        raise AssertionError(f"the page never had {expression} within {seconds:g} s; it says: "
                             f"{said}")

    def close(self) -> None:
        if hasattr(self, "stack"):
            self.stack.close()
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)


@pytest.fixture
def browser(tmp_path: Path) -> Any:
    tools = DevTools(tmp_path / "profile")
    yield tools
    tools.close()


@pytest.fixture
def service(tmp_path: Path) -> Any:
    running = Service(tmp_path / "serve.log", "--workers", "1", token="page-token")
    yield running
    assert running.stop() == 0, running.log_text()


def choose_instance(browser: DevTools, service: Service, path: Path,
                    time_limit: str = "") -> None:
    """Open the page, give the token and the time limit, and choose an instance file, as a
    user does."""
    browser.call("Emulation.setDeviceMetricsOverride", width=1280, height=820,
                 deviceScaleFactor=1, mobile=False)
    browser.call("Page.navigate", url=service.url + "/")
    browser.until("document.readyState === 'complete' && !!document.getElementById('file')")
    browser.js(f"document.getElementById('token').value = {json.dumps(service.token)}")
    browser.js(f"document.getElementById('time-limit').value = {json.dumps(time_limit)}")
    root = browser.call("DOM.getDocument")["root"]["nodeId"]
    file_input = browser.call("DOM.querySelector", nodeId=root, selector="#file")["nodeId"]
    browser.call("DOM.setFileInputFiles", nodeId=file_input, files=[str(path)])
    browser.until("!document.getElementById('solve').disabled", 20)


def test_the_map_page_solves_the_example_and_draws_a_route_per_agent(browser: DevTools,
                                                                     service: Service) -> None:
    choose_instance(browser, service, EXAMPLE, "1")
    assert browser.js("document.querySelectorAll('#nodes .node').length") == 6
    assert browser.js("document.querySelectorAll('#nodes rect.depot').length") == 1
    browser.js("document.getElementById('solve').click()")
    status = browser.until("document.body.dataset.job")
    assert status == "solved", browser.js("document.getElementById('status').textContent")

    routes = browser.js("""[...document.querySelectorAll('#routes path.route')].map(
        p => ({agent: p.dataset.agent, colour: p.getAttribute('stroke'),
               points: (p.getAttribute('d').match(/[ML]/g) || []).length}))""")
    agents = json.loads(EXAMPLE.read_text())["agents"]
    assert sorted(r["agent"] for r in routes) == sorted(str(a["id"]) for a in agents)
    assert len({r["colour"] for r in routes}) == len(agents)
    # Every site is on a route; each route leaves the depot and comes back.
    assert sum(r["points"] - 2 for r in routes) == 5
    assert "objective" in browser.js("document.getElementById('status').textContent")
    assert browser.js("document.querySelectorAll('#chart path.curve').length") == 1

    # Hovering a site shows its arrival time.
    box = browser.js("""(() => { const r = document.querySelector('#nodes [data-node="2"]')
        .getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()""")
    browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=box[0], y=box[1])
    tip = browser.until("document.getElementById('tip').style.display === 'block' && "
                        "document.getElementById('tip').textContent", 10)
    assert tip.startswith("site 2") and "arrives" in tip

    SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
    shot = base64.b64decode(browser.call("Page.captureScreenshot", format="png")["data"])
    SCREENSHOT.write_bytes(shot)
    assert shot.startswith(b"\x89PNG") and len(shot) > 10_000


def test_the_page_draws_the_best_routes_while_the_job_runs(browser: DevTools, service: Service,
                                                          tmp_path: Path) -> None:
    path = tmp_path / "eighty_sites.json"
    path.write_text(json.dumps(grid_instance(80)))
    choose_instance(browser, service, path, "6")
    browser.js("document.getElementById('solve').click()")
    browser.until("document.getElementById('routes').dataset.routes === 'live' && "
                  "document.querySelectorAll('#routes path.route').length === 3", 30)
    # At that moment the job runs, for the service and for the page.
    job_id = browser.js("state.job")
    with service.client() as client:
        assert client.get(f"/jobs/{job_id}").json()["status"] == "running"
    assert browser.js("document.body.dataset.job") is None
    assert browser.js("document.getElementById('status').textContent").startswith("solving")
    live = browser.js("""[...document.querySelectorAll('#routes path.route')].map(
        p => [p.dataset.agent, (p.getAttribute('d').match(/[ML]/g) || []).length])""")
    assert sorted(agent for agent, _ in live) == ["100", "101", "102"]
    assert sum(points - 2 for _, points in live) == 80  # every site on a route
    assert "still improving" in browser.js("document.getElementById('legend').textContent")
    SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
    shot = base64.b64decode(browser.call("Page.captureScreenshot", format="png")["data"])
    LIVE_SCREENSHOT.write_bytes(shot)

    # At the end, the solution's routes replace them.
    assert browser.until("document.body.dataset.job", 30) == "solved"
    assert browser.js("document.getElementById('routes').dataset.routes") == "final"
    assert browser.js("document.querySelectorAll('#routes path.route').length") == 3


def test_the_page_shows_windows_and_the_services_refusal(browser: DevTools, service: Service,
                                                         tmp_path: Path) -> None:
    broken = json.loads(EXAMPLE.read_text())
    broken["agents"][0]["start_node"] = 99
    broken["constraints"].append({"kind": "timewindow",
                                  "items": [{"node": 3, "start": 5, "end": 40}]})
    path = tmp_path / "broken.json"
    path.write_text(json.dumps(broken))
    choose_instance(browser, service, path)
    assert browser.js("document.querySelectorAll('#nodes circle.windowed').length") == 1
    browser.js("""document.querySelector('#nodes [data-node="3"]').dispatchEvent(
        new MouseEvent('mousemove', {clientX: 10, clientY: 10}))""")
    assert browser.js("document.getElementById('tip').textContent") == "site 3\nwindow [5, 40]"
    browser.js("document.getElementById('solve').click()")
    browser.until("document.getElementById('status').className === 'error'", 20)
    assert browser.js("document.getElementById('status').textContent") == (
        "the instance has 1 error(s):")
    assert "$.agents[0].start_node" in browser.js(
        "document.getElementById('messages').textContent")
