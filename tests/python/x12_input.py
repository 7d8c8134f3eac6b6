"""Small 835 interchanges built inline for the tests."""
import time

ISA = ("ISA*00*          *00*          *ZZ*ACMEHEALTH     *ZZ*GOODCLINIC     "
       "*260105*1200*^*00501*000000101*0*T*:~")


def payment(claims=(("CLAIM1", "MEMBER1", "150"),), payer=True):
    """The segments of one transaction between ST and SE: each claim is
    (claim id, patient id, paid amount); the payment is their sum. Without
    payer, no payer loop."""
    total = sum(float(c[2]) for c in claims)
    body = [f"BPR*I*{total:g}*C*ACH*CCP*01*011000015*DA*123456789*1512345678**01*021000021*DA"
            "*987654321*20260105", "TRN*1*EFT0001*1512345678"]
    if payer:
        body += ["N1*PR*ACME HEALTH PLAN", "N3*100 MAIN ST", "N4*SPRINGFIELD*IL*62701",
                 "PER*BL*CLAIMS DEPT*TE*8005551212"]
    body += ["N1*PE*GOOD CLINIC*XX*1234567893", "LX*1"]
    for claim_id, patient, paid in claims:
        body += [f"CLP*{claim_id}*1*{paid}*{paid}**12*REF{claim_id}*11*1",
                 f"NM1*QC*1*DOE*JOHN****MI*{patient}"]
    return body


def slow_input(read, seconds=0.5):
    """An interchange large enough that read(data) takes at least `seconds`
    in this build: grown by doubling from a few hundred transactions."""
    claims = [(f"C{i}", f"P{i}", "1") for i in range(40)]
    count = 250
    while True:
        data = interchange(*[payment(claims=claims)] * count)
        start = time.perf_counter()
        read(data)
        if time.perf_counter() - start >= seconds or count >= 64000:
            return data
        count *= 2


def interchange(*transactions, version="005010X221A1", newline=""):
    """A whole interchange with one ST/SE pair per transaction and the
    control counts right."""
    out = [ISA, f"GS*HP*ACMEHEALTH*GOODCLINIC*20260105*1200*101*X*{version}~"]
    for i, body in enumerate(transactions, 1):
        out += [f"ST*835*{i:04}*{version}~", *(s + "~" for s in body), f"SE*{len(body) + 2}*{i:04}~"]
    out += [f"GE*{len(transactions)}*101~", "IEA*1*000000101~"]
    return newline.join(out).encode()
